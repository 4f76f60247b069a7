// The answers of a system without Linux's extras for telling what a device
// shows and for copying fast (Windows, other POSIX systems), each written
// once: the caller then does the work the plain way.

#include "fast_copy.h"
#include "file_system.h"

namespace bytemend {

std::optional<Window> device_window(int, const struct stat&) {
    return std::nullopt;
}

// Only what a device shows makes one worth telling apart.
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

// Nothing rules it out where the system cannot tell what file system a
// file is on.
bool identity_may_lie(int) {
    return true;
}

// No loop device to be stale beneath a device that it cannot see through.
std::error_code drop_cached_page(int, std::int64_t) {
    return {};
}

std::error_code punch_hole(int, std::int64_t, std::int64_t) {
    return std::make_error_code(std::errc::operation_not_supported);
}

// Holes are not asked for (Windows reports allocated ranges, but Wine,
// where it is tested, does not): all of a file is data.
std::optional<Extent> next_data(int, std::int64_t from, std::int64_t length) {
    if (from >= length) {
        return std::nullopt;
    }
    return Extent{from, length};
}

}  // namespace bytemend
