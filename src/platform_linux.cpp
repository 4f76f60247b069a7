// Linux's own ways to make and copy files: unnamed files (O_TMPFILE), shared
// blocks (FICLONE), copies inside the kernel and punched holes.

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fast_copy.h"
#include "files.h"
#include "new_file.h"

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

// Names are built on the stack: a run has nothing on the heap that could fail
// it halfway, beyond the copy's one buffer.
File open_unnamed(const char* path, mode_t mode) {
    char folder[name_room] = ".";
    const char* slash = std::strrchr(path, '/');
    if (slash != nullptr) {
        const auto size = std::max<std::size_t>(static_cast<std::size_t>(slash - path), 1);
        if (size >= sizeof folder) {
            errno = ENAMETOOLONG;
            return {};
        }
        std::memcpy(folder, path, size);
        folder[size] = '\0';
    }
    return File(::open(folder, O_TMPFILE | O_RDWR, mode));
}

bool give_name(int fd, const char* path) {
    // Through /proc, as any user may; without /proc, directly, which needs
    // the right to read any file by its descriptor.
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    return errno == ENOENT && ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0;
}

namespace {

// Where a partition starts in its disk, in bytes; 0 for a whole disk.
std::int64_t partition_start(dev_t device) {
    char name[64];
    std::snprintf(name, sizeof name, "/sys/dev/block/%u:%u/start", major(device), minor(device));
    std::int64_t start = 0;
    if (std::FILE* file = std::fopen(name, "r")) {
        char sectors[32] = "";
        if (std::fgets(sectors, sizeof sectors, file) != nullptr) {
            start = std::strtoll(sectors, nullptr, 10) * 512;
        }
        std::fclose(file);
    }
    return start;
}

// The block device that a loop device is set up on, opened by the name the
// loop was given and taken only if it is still that device.
File backing_device(const loop_info64& loop) {
    char name[64];
    std::snprintf(name, sizeof name, "/sys/block/loop%u/loop/backing_file", loop.lo_number);
    char path[name_room] = "";
    std::FILE* file = std::fopen(name, "r");
    const bool read = file != nullptr && std::fgets(path, sizeof path, file) != nullptr;
    if (file != nullptr) {
        std::fclose(file);
    }
    path[std::strcspn(path, "\n")] = '\0';
    File device(read ? ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1);
    struct stat status {};
    if (!device || ::fstat(device.get(), &status) != 0 || !S_ISBLK(status.st_mode) ||
        status.st_rdev != static_cast<dev_t>(loop.lo_rdevice)) {
        return {};
    }
    return device;
}

}  // namespace

std::optional<Window> device_window(int fd, const struct stat& status) {
    std::uint64_t length = 0;
    if (!S_ISBLK(status.st_mode) || ::ioctl(fd, BLKGETSIZE64, &length) != 0) {
        return std::nullopt;
    }
    Window window{.file = {}, .offset = 0, .length = static_cast<std::int64_t>(length)};
    // Down through loop devices on loop devices (or on their partitions),
    // each starting further into the one beneath, to the file at the
    // bottom; the top device's length is already within each below it. A
    // partition's descriptor answers for the loop device it is part of.
    dev_t device = status.st_rdev;
    File below;
    for (int level = 0, at = fd; level < 16; ++level) {
        loop_info64 loop{};
        if (::ioctl(at, LOOP_GET_STATUS64, &loop) != 0) {
            return std::nullopt;
        }
        window.offset += partition_start(device) + static_cast<std::int64_t>(loop.lo_offset);
        if (loop.lo_rdevice == 0) {
            window.file = {.volume = loop.lo_device, .index = loop.lo_inode};
            return window;
        }
        below = backing_device(loop);
        if (!below) {
            window.reached = false;
            return window;
        }
        device = static_cast<dev_t>(loop.lo_rdevice);
        at = below.get();
    }
    return std::nullopt;
}

bool start_writeback(int fd) {
    // A pipe or a terminal has nothing to write back (ESPIPE, EINVAL).
    return ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE) == 0 || (errno != EIO && errno != ENOSPC);
}

bool rename_exclusive(const char* from, const char* to) {
    // ENOSYS before Linux 3.15; EINVAL from file systems without it.
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == ENOSYS) {
        errno = EINVAL;
    }
    return false;
}

bool clone_file(int in, int out, std::int64_t length) {
    file_clone_range range{.src_fd = in, .src_offset = 0, .src_length = static_cast<std::uint64_t>(length),
                           .dest_offset = 0};
    return ::ioctl(out, FICLONERANGE, &range) == 0;
}

bool write_out(int fd, std::int64_t offset, std::int64_t size) {
    return ::sync_file_range(fd, offset, size,
                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                 SYNC_FILE_RANGE_WAIT_AFTER) == 0;
}

FastPath kernel_copy(int in, int out, std::int64_t offset, std::int64_t size) {
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
            return FastPath::unsupported;
        }
        return copied == 0 ? FastPath::short_input : FastPath::failed;
    }
    return FastPath::done;
}

FastPath punch_hole(int fd, std::int64_t offset, std::int64_t size) {
    if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, size) == 0) {
        return FastPath::done;
    }
    return means_unsupported(errno) ? FastPath::unsupported : FastPath::failed;
}

}  // namespace bytemend
