#include "kernel_copy.h"

#if defined(__linux__)

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace bytemend {

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

KernelCopy kernel_copy(int in, int out, std::int64_t length) {
    // A reflink shares the input's blocks (Btrfs, XFS): no data moves and no
    // space is used until one of the files changes. Where it fails, nothing
    // has been written, whatever the reason, so the next way is always open.
    if (::ioctl(out, FICLONE, in) == 0) {
        return KernelCopy::done;
    }

    // The kernel caps one call near 2 GiB; asking for 1 GiB keeps every
    // request whole on 32-bit systems too.
    constexpr std::int64_t most_per_call = std::int64_t{1} << 30;
    loff_t offset = 0;
    while (offset < length) {
        const auto request = static_cast<size_t>(std::min(length - offset, most_per_call));
        const ssize_t copied = ::copy_file_range(in, &offset, out, nullptr, request, 0);
        if (copied > 0) {
            continue;
        }
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        // Files in /proc and /sys report a size but copy nothing this way
        // (kernels 5.3 to 5.18); the buffered copy reads them properly.
        if (offset == 0 && (copied == 0 || means_unsupported(errno))) {
            return KernelCopy::unsupported;
        }
        return copied == 0 ? KernelCopy::short_input : KernelCopy::failed;
    }
    return KernelCopy::done;
}

}  // namespace bytemend

#else

namespace bytemend {

KernelCopy kernel_copy(int, int, std::int64_t) {
    return KernelCopy::unsupported;
}

}  // namespace bytemend

#endif
