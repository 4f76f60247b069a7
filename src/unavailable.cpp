// No way to see through a device or to copy fast: the caller's plain way.

#include "fast_copy.h"
#include "file_system.h"

namespace bytemend {

std::optional<Window> device_window(int, const struct stat&) {
    return std::nullopt;
}

bool is_block_device(const char*) {
    return false;
}

// Not EINVAL, which the caller reads as a longer output that the kernel
// would share with once cut.
std::error_code clone_file(int, int, std::int64_t) {
    return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code kernel_copy(int, int, std::int64_t, std::int64_t, std::int64_t&) {
    return std::make_error_code(std::errc::operation_not_supported);
}

bool identity_may_lie(int) {
    return true;
}

// No loop device seen through, to be stale beneath the device.
std::error_code drop_cached_page(int, std::int64_t) {
    return {};
}

std::error_code punch_hole(int, std::int64_t, std::int64_t) {
    return std::make_error_code(std::errc::operation_not_supported);
}

// Holes are not asked for (Windows reports allocated ranges, but Wine,
// where it is tested, does not): all of a file is data.
std::optional<Extent> next_data(int, std::int64_t from, std::int64_t length) {
    return from < length ? std::optional<Extent>(Extent{from, length}) : std::nullopt;
}

}  // namespace bytemend
