// The answers of a system without the extras that Linux has for telling what
// a device shows and for copying fast, shared by every system that has none
// of them (Windows, and POSIX systems other than Linux), so that each says so
// once: the caller then does the work the plain way.

#include <cerrno>

#include "fast_copy.h"
#include "files.h"

namespace bytemend {

std::optional<Window> device_window(int, const struct stat&) {
    return std::nullopt;
}

// The file is written out whenever the system gets round to it. Windows'
// FlushFileBuffers, like fsync, waits for all of it, which is far dearer
// than a start.
bool start_writeback(int) {
    return true;
}

// Nothing is ever shared, which is what it is waited on for.
bool write_out(int, std::int64_t, std::int64_t) {
    return true;
}

// With errno set as a failed clone sets it: the caller reads EINVAL as a
// longer output that the kernel would share with once cut, and must not
// find one left over from an earlier call.
bool clone_file(int, int, std::int64_t) {
    errno = EOPNOTSUPP;
    return false;
}

FastPath kernel_copy(int, int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
}

FastPath punch_hole(int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
}

}  // namespace bytemend
