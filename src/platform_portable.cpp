// Systems with none of Linux's own ways to make and copy files: new files are
// made by name, and copies go through the buffer. The BSDs and macOS build
// with this beside platform_posix.cpp until they get a file of their own.

#include <cerrno>

#include "fast_copy.h"
#include "files.h"
#include "new_file.h"

namespace bytemend {

File open_unnamed(const char*, mode_t) {
    errno = EOPNOTSUPP;
    return {};
}

bool give_name(int, const char*) {
    errno = EOPNOTSUPP;
    return false;
}

bool rename_exclusive(const char*, const char*) {
    errno = EINVAL;
    return false;
}

bool start_writeback(int) {
    return true;
}

std::optional<Window> device_window(int, const struct stat&) {
    return std::nullopt;
}

bool clone_file(int, int) {
    return false;
}

FastPath kernel_copy(int, int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
}

FastPath punch_hole(int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
}

}  // namespace bytemend
