// Linux's ways to know a file: loop devices, FUSE's state, OFD locks.

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "file_system.h"
#include "linux.h"
#include "posix.h"

namespace bytemend {

unsigned long file_system(int fd) {
    struct statfs system {};
    return ::fstatfs(fd, &system) == 0 ? static_cast<unsigned long>(system.f_type) : 0;
}

// By read(): iostreams would bring a fifth of a megabyte into the command.
std::string read_text(const std::string& name) {
    std::string text;
    const File file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    ssize_t got = 1;
    for (std::size_t size = 0; file && got > 0; size = text.size()) {
        text.resize(size + 16384);
        got = ::read(file.get(), text.data() + size, 16384);
        text.resize(size + static_cast<std::size_t>(got > 0 ? got : 0));
    }
    return text;
}

namespace {

// Where a partition starts in its disk, in bytes; 0 for a whole disk.
std::int64_t partition_start(dev_t device) {
    const std::string sectors =
        read_text("/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)) + "/start");
    return std::strtoll(sectors.c_str(), nullptr, 10) * 512;
}

// The block device a loop device stands on, opened by the name the loop
// was given, while that name is still that device.
File backing_device(const loop_info64& loop) {
    std::string path = read_text("/sys/block/loop" + std::to_string(loop.lo_number) + "/loop/backing_file");
    path = path.substr(0, path.find('\n'));
    // No name (""): open fails, ENOENT.
    File device(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
    // further into the one beneath; a partition answers for its loop device.
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

bool identity_may_lie(int fd) {
    const unsigned long type = file_system(fd);
    return type == 0 || type == fuse;
}

// FUSE keeps an inode per name, with the attributes it last asked for (a
// second, by default): a file written through one name shows its old size
// through the other until asked again.
std::optional<FileState> fresh_state(int fd) {
    struct statx now {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE | STATX_MTIME | STATX_CTIME, &now) != 0) {
        return std::nullopt;
    }
    const auto ticks = [](const statx_timestamp& time) { return nanoseconds(time.tv_sec, time.tv_nsec); };
    return FileState{static_cast<std::int64_t>(now.stx_size), ticks(now.stx_mtime), ticks(now.stx_ctime)};
}

// A lock of the open file, not the process, on the last byte a file can
// have, which no program locks: a read lock through `a` stops a write lock
// through `b` only where the kernel holds one file behind both.
Probe probe_one_file(int a, int b) {
    const auto lock = [](int fd, int command, short type) {
        struct flock range {};
        range.l_type = type;
        range.l_whence = SEEK_SET;
        range.l_start = std::numeric_limits<off_t>::max();
        range.l_len = 1;
        return ::fcntl(fd, command, &range) == 0 ? std::optional<short>(range.l_type) : std::nullopt;
    };
    const auto there = lock(b, F_OFD_GETLK, F_WRLCK);
    if (there && *there != F_UNLCK) {
        return Probe::taken;
    }
    if (!there || !lock(a, F_OFD_SETLK, F_RDLCK)) {
        return !there || (errno != EAGAIN && errno != EACCES) ? Probe::unknown : Probe::taken;
    }
    const auto seen = lock(b, F_OFD_GETLK, F_WRLCK);
    lock(a, F_OFD_SETLK, F_UNLCK);
    return !seen ? Probe::unknown : *seen == F_UNLCK ? Probe::two : Probe::one;
}

std::error_code drop_cached_page(int fd, std::int64_t offset) {
    // Only whole pages are dropped.
    const std::int64_t page = ::sysconf(_SC_PAGESIZE);
    return {::posix_fadvise(fd, offset / page * page, page, POSIX_FADV_DONTNEED), std::generic_category()};
}

}  // namespace bytemend
