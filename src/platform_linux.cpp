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
#include <cstdlib>
#include <string>

#include "fast_copy.h"
#include "file_system.h"
#include "posix_new_file.h"

namespace bytemend {

namespace {

// Errors that mean "not on these files", not "the copy went wrong": not
// supported here (EINVAL, EXDEV, EOPNOTSUPP; EPERM or ETXTBSY from some
// network file systems), or a kernel before the call (ENOSYS, before 4.5).
// The buffered copy meets any real error again and reports it.
bool means_unsupported(int error) {
    return error == EINVAL || error == EXDEV || error == EOPNOTSUPP || error == ENOSYS || error == EPERM ||
           error == ETXTBSY;
}

}  // namespace

File open_unnamed(const std::string& path, mode_t mode) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
    return File(::open(folder.c_str(), O_TMPFILE | O_RDWR, mode));
}

std::error_code give_name(int fd, const char* path) {
    // Through /proc, as any user may; without /proc, directly, which needs
    // the right to read any file by its descriptor.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0 ||
        (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0)) {
        return {};
    }
    return errno_error();
}

namespace {

// The first line of a file in /sys; empty where there is none. Read with
// read(), as iostreams would bring a fifth of a megabyte into the command.
std::string first_line(const std::string& name) {
    std::string text(4096, '\0');
    const File file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t size = file ? ::read(file.get(), text.data(), text.size()) : -1;
    text.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return text.substr(0, text.find('\n'));
}

// Where a partition starts in its disk, in bytes; 0 for a whole disk.
std::int64_t partition_start(dev_t device) {
    const std::string sectors = first_line("/sys/dev/block/" + std::to_string(major(device)) + ":" +
                                           std::to_string(minor(device)) + "/start");
    return std::strtoll(sectors.c_str(), nullptr, 10) * 512;
}

// The block device a loop device stands on, opened by the name the loop was
// given, and only while that name is still that device.
File backing_device(const loop_info64& loop) {
    const std::string path =
        first_line("/sys/block/loop" + std::to_string(loop.lo_number) + "/loop/backing_file");
    File device(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
    // Down through loop devices on loop devices (or their partitions), each
    // further into the one beneath, to the file at the bottom, within whose
    // length the top one lies. A partition answers for its loop device.
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

bool is_block_device(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0 && S_ISBLK(status.st_mode);
}

std::error_code start_writeback(int fd) {
    // A pipe or a terminal has nothing to write back (ESPIPE, EINVAL).
    return ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE) == 0 || (errno != EIO && errno != ENOSPC)
               ? std::error_code()
               : errno_error();
}

std::error_code rename_exclusive(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return {};
    }
    // ENOSYS before Linux 3.15; EINVAL from file systems without it.
    return errno == ENOSYS ? std::make_error_code(std::errc::invalid_argument) : errno_error();
}

std::error_code clone_file(int in, int out, std::int64_t length) {
    file_clone_range range{.src_fd = in, .src_offset = 0, .src_length = static_cast<std::uint64_t>(length),
                           .dest_offset = 0};
    return ::ioctl(out, FICLONERANGE, &range) == 0 ? std::error_code() : errno_error();
}

std::error_code write_out(int fd, std::int64_t offset, std::int64_t size) {
    return ::sync_file_range(fd, offset, size,
                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                 SYNC_FILE_RANGE_WAIT_AFTER) == 0
               ? std::error_code()
               : errno_error();
}

FastPath kernel_copy(int in, int out, std::int64_t offset, std::int64_t size, std::error_code& error) {
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
        // Files in /proc and /sys copy nothing this way (kernels 5.3 to
        // 5.18); the buffered copy reads them, and tells an input that ended.
        if (in_offset == offset && (copied == 0 || means_unsupported(errno))) {
            return FastPath::unsupported;
        }
        if (copied == 0) {
            return FastPath::short_input;
        }
        error = errno_error();
        return FastPath::failed;
    }
    return FastPath::done;
}

FastPath punch_hole(int fd, std::int64_t offset, std::int64_t size, std::error_code& error) {
    if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, size) == 0) {
        return FastPath::done;
    }
    if (means_unsupported(errno)) {
        return FastPath::unsupported;
    }
    error = errno_error();
    return FastPath::failed;
}

}  // namespace bytemend
