#include "platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace bytemend {

#if defined(__linux__)

namespace {

// Errors that mean "not on these files", not "the copy went wrong": the file
// systems or file types do not support it (EINVAL, EXDEV, EOPNOTSUPP, and
// EPERM or ETXTBSY from some network file systems), or the kernel predates
// the call (ENOSYS, before 4.5). The buffered copy meets any real error again
// and reports it there.
bool means_unsupported(int error) {
    switch (error) {
    case EINVAL:
    case EXDEV:
    case EOPNOTSUPP:
    case ENOSYS:
    case EPERM:
    case ETXTBSY:
        return true;
    default:
        return false;
    }
}

}  // namespace

File open_unnamed(const char* path, mode_t mode) {
    const std::string name(path);
    const auto slash = name.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    return File(::open(folder.c_str(), O_TMPFILE | O_WRONLY, mode));
}

bool give_name(int fd, const char* path) {
    // Through /proc, as any user may; without /proc, directly, which needs
    // the right to read any file by its descriptor.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    return errno == ENOENT && ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0;
}

bool clone_file(int in, int out) {
    return ::ioctl(out, FICLONE, in) == 0;
}

KernelCopy kernel_copy(int in, int out, std::int64_t offset, std::int64_t size) {
    // The kernel caps one call near 2 GiB; asking for 1 GiB keeps every
    // request whole on 32-bit systems too.
    constexpr std::int64_t most_per_call = std::int64_t{1} << 30;
    loff_t in_offset = offset;
    loff_t out_offset = offset;
    const std::int64_t end = offset + size;
    while (in_offset < end) {
        const auto request = static_cast<size_t>(std::min(end - in_offset, most_per_call));
        const ssize_t copied = ::copy_file_range(in, &in_offset, out, &out_offset, request, 0);
        if (copied > 0) {
            continue;
        }
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        // Files in /proc and /sys report a size but copy nothing this way
        // (kernels 5.3 to 5.18); the buffered copy reads them properly, and
        // tells an input that really ended.
        if (in_offset == offset && (copied == 0 || means_unsupported(errno))) {
            return KernelCopy::unsupported;
        }
        return copied == 0 ? KernelCopy::short_input : KernelCopy::failed;
    }
    return KernelCopy::done;
}

#else

File open_unnamed(const char*, mode_t) {
    return File();
}

bool give_name(int, const char*) {
    return false;
}

bool clone_file(int, int) {
    return false;
}

KernelCopy kernel_copy(int, int, std::int64_t, std::int64_t) {
    return KernelCopy::unsupported;
}

#endif

#if defined(SEEK_DATA) && defined(SEEK_HOLE)

std::optional<Extent> next_data(int fd, std::int64_t from, std::int64_t length) {
    if (from >= length) {
        return std::nullopt;
    }
    const off_t start = ::lseek(fd, from, SEEK_DATA);
    // ENXIO: nothing but holes up to the end of the file. Any other error
    // means the file system does not report holes.
    if (start < 0 && errno != ENXIO) {
        return Extent{from, length};
    }
    if (start < 0 || start >= length) {
        return std::nullopt;
    }
    const off_t end = ::lseek(fd, start, SEEK_HOLE);
    return Extent{start, end < 0 ? length : std::min<std::int64_t>(end, length)};
}

#else

std::optional<Extent> next_data(int, std::int64_t from, std::int64_t length) {
    if (from >= length) {
        return std::nullopt;
    }
    return Extent{from, length};
}

#endif

}  // namespace bytemend
