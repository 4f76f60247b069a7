// Linux's own calls: unnamed files, links opened themselves, extended
// attributes and flags, leases, mounts and loop devices, shared blocks,
// holes and copies inside the kernel.

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "fast_copy.h"
#include "file_system.h"
#include "new_file.h"
#include "posix.h"

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

// File systems by statfs's number; 0 where it cannot be had.
constexpr unsigned long ext4 = 0xEF53;
constexpr unsigned long xfs = 0x58465342;
constexpr unsigned long btrfs = 0x9123683E;
constexpr unsigned long tmpfs = 0x01021994;
constexpr unsigned long fuse = 0x65735546;

unsigned long file_system(int fd) {
    struct statfs system {};
    return ::fstatfs(fd, &system) == 0 ? static_cast<unsigned long>(system.f_type) : 0;
}

}  // namespace

std::error_code open_folder(const std::string& path, File& folder) {
    // O_PATH: a folder this user may search but not read opens too.
    folder = File(::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return folder ? std::error_code() : errno_error();
}

std::error_code read_link(int folder, const char* name, struct stat& status, std::string& target) {
    // The link itself, opened: its owner and target cannot come from two
    // links that took the name in turn.
    const File link(::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!link || ::fstat(link.get(), &status) != 0) {
        return errno_error();
    }
    target.assign(PATH_MAX, '\0');
    const ssize_t length = S_ISLNK(status.st_mode) ? ::readlinkat(link.get(), "", target.data(), target.size()) : 0;
    if (length < 0) {
        return errno_error();
    }
    target.resize(static_cast<std::size_t>(length));
    return {};
}

std::error_code open_unnamed(int folder, mode_t mode, File& file) {
    // Without /proc, only a process that may read any file can name it
    // (before Linux 6.10): it is made by name instead.
    if (::access("/proc/self/fd", X_OK) != 0) {
        return errno_error();
    }
    file = File(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    return file ? std::error_code() : errno_error();
}

std::error_code give_name(int fd, int folder, const char* name) {
    // Through /proc, as any user may; else directly, which needs the right
    // to read any file by its descriptor.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0 ||
        (errno == ENOENT && ::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0)) {
        return {};
    }
    return errno_error();
}

namespace {

// A file of /proc or /sys, whole; empty where there is none. Read with
// read(), as iostreams would bring a fifth of a megabyte into the command.
std::string read_text(const std::string& name) {
    std::string text;
    const File file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    for (std::size_t size = 0; file; size = text.size()) {
        text.resize(size + 16384);
        const ssize_t got = ::read(file.get(), text.data() + size, 16384);
        text.resize(size + static_cast<std::size_t>(got > 0 ? got : 0));
        if (got <= 0) {
            break;
        }
    }
    return text;
}

// A list of extended attribute names, NUL after each, or a value: its size,
// then it, again while it grows meanwhile. Empty where the file system has
// none (ENOTSUP).
template <typename Call>
std::error_code read_extra(Call call, std::string& into) {
    for (;;) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0) {
            into.clear();
            return errno == ENOTSUP ? std::error_code() : errno_error();
        }
        into.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = size == 0 ? 0 : call(into.data(), into.size());
        if (got >= 0) {
            into.resize(static_cast<std::size_t>(got));
            return {};
        }
        if (errno != ERANGE) {
            return errno_error();
        }
    }
}

std::error_code attribute_names(int fd, std::string& names) {
    return read_extra([fd](char* data, std::size_t size) { return ::flistxattr(fd, data, size); }, names);
}

std::error_code attribute(int fd, const char* name, std::string& value) {
    return read_extra([fd, name](char* data, std::size_t size) { return ::fgetxattr(fd, name, data, size); },
                      value);
}

bool listed(std::string_view names, std::string_view name) {
    for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        if (names.substr(at, names.find('\0', at) - at) == name) {
            return true;
        }
    }
    return false;
}

// The flags that chattr sets, NOCOW above all (Btrfs takes it only while
// a file is empty), and XFS's project, which quotas count by.
std::error_code carry_flags(int from, int to) {
    constexpr int settable = (FS_FL_USER_MODIFIABLE | FS_NOCOW_FL | FS_NOCOMP_FL) & ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
    int was = 0;
    int now = 0;
    // A file system without flags (ENOTTY, or EINVAL from FUSE) has none to lose.
    const auto none = [] { return errno == ENOTTY || errno == ENOTSUP || errno == ENOSYS || errno == EINVAL; };
    if (::ioctl(from, FS_IOC_GETFLAGS, &was) != 0) {
        return none() ? std::error_code() : errno_error();
    }
    if ((was & settable) != 0 && ::ioctl(to, FS_IOC_GETFLAGS, &now) != 0) {
        return errno_error();
    }
    int wanted = (now & ~settable) | (was & settable);
    if ((was & settable) != 0 && wanted != now && ::ioctl(to, FS_IOC_SETFLAGS, &wanted) != 0) {
        return errno_error();
    }
    fsxattr project{};
    fsxattr given{};
    if (::ioctl(from, FS_IOC_FSGETXATTR, &project) != 0) {
        return none() ? std::error_code() : errno_error();
    }
    if (::ioctl(to, FS_IOC_FSGETXATTR, &given) != 0) {
        return errno_error();
    }
    if (given.fsx_projid == project.fsx_projid) {
        return {};
    }
    given.fsx_projid = project.fsx_projid;
    return ::ioctl(to, FS_IOC_FSSETXATTR, &given) == 0 ? std::error_code() : errno_error();
}

// Whether the file `old` is bind-mounted elsewhere (as container runtimes
// hand /etc/hosts to a container), which would go on with the old file.
// Only this mount namespace's mounts can be seen.
bool mounted_elsewhere(const struct stat& old) {
    std::string table = read_text("/proc/self/mountinfo");
    const std::string device = std::to_string(major(old.st_dev)) + ":" + std::to_string(minor(old.st_dev));
    for (std::size_t at = 0; at < table.size(); at = table.find('\n', at) + 1) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT ..., spaces in names as \040.
        std::string line = table.substr(at, table.find('\n', at) - at);
        std::size_t field = 0;
        for (int skipped = 0; skipped < 2 && field != std::string::npos; ++skipped) {
            field = line.find(' ', field) + 1;
        }
        if (field == 0 || line.compare(field, device.size() + 1, device + " ") != 0) {
            continue;
        }
        const std::size_t root_end = line.find(' ', field + device.size() + 1);
        std::string point = line.substr(root_end + 1, line.find(' ', root_end + 1) - root_end - 1);
        for (std::size_t escape = point.find('\\'); escape != std::string::npos && escape + 3 < point.size();
             escape = point.find('\\', escape + 1)) {
            point.replace(escape, 4, 1, static_cast<char>(std::strtol(point.substr(escape + 1, 3).c_str(), nullptr, 8)));
        }
        struct stat there {};
        if (::stat(point.c_str(), &there) == 0 && S_ISREG(there.st_mode) && there.st_dev == old.st_dev &&
            there.st_ino == old.st_ino) {
            return true;
        }
    }
    return false;
}

// The first line of a file in /sys; empty where there is none.
std::string first_line(const std::string& name) {
    const std::string text = read_text(name);
    return text.substr(0, text.find('\n'));
}

// Where a partition starts in its disk, in bytes; 0 for a whole disk.
std::int64_t partition_start(dev_t device) {
    const std::string sectors = first_line("/sys/dev/block/" + std::to_string(major(device)) + ":" +
                                           std::to_string(minor(device)) + "/start");
    return std::strtoll(sectors.c_str(), nullptr, 10) * 512;
}

// The block device a loop device stands on, opened by the name the loop
// was given, while that name is still that device.
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

// FUSE keeps an inode per name, with the attributes it last asked for (a
// second, by default): a file written through one name shows its old size
// through the other until asked again.
std::optional<FileState> fresh_state(int fd) {
    struct statx now {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE | STATX_MTIME | STATX_CTIME, &now) != 0) {
        return std::nullopt;
    }
    const auto ticks = [](const statx_timestamp& time) { return time.tv_sec * 1000000000 + time.tv_nsec; };
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
    if (!seen) {
        return Probe::unknown;
    }
    return *seen == F_UNLCK ? Probe::two : Probe::one;
}

std::optional<Extent> next_data(int fd, std::int64_t from, std::int64_t length) {
    if (from >= length) {
        return std::nullopt;
    }
    const off_t start = ::lseek(fd, from, SEEK_DATA);
    // ENXIO: nothing but holes up to the end of the file.
    if (start >= length || (start < 0 && errno == ENXIO)) {
        return std::nullopt;
    }
    // A file system that does not report holes: all of it is data.
    if (start < 0) {
        return Extent{from, length};
    }
    const off_t end = ::lseek(fd, start, SEEK_HOLE);
    return Extent{start, end < 0 ? length : std::min<std::int64_t>(end, length)};
}

bool is_block_device(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0 && S_ISBLK(status.st_mode);
}

bool identity_may_lie(int fd) {
    const unsigned long type = file_system(fd);
    return type == 0 || type == fuse;
}

// The reasons of doc/behaviour.md, in its order. A read lease is refused
// while anyone has the file open to write it, so readers, mappers and a
// running program keep the old file, as `install` leaves them. Where `old`
// could not be held only to be read (no /proc), a write lease, which any
// open refuses. Asked `again`, just before the rename, the lease is kept:
// a program that then opens the file to write it waits until `old` is
// closed (opened_to_write). The mounts are not read again: a bind mount
// made meanwhile is rarer than an open.
std::error_code NewFile::why_not_replace(int old, bool again) const {
    struct stat was {};
    struct stat now {};
    struct statx mount {};
    struct statx held {};
    if (::fstat(old, &was) != 0 || ::fstat(file_.get(), &now) != 0) {
        return errno_error();
    }
    // Another name would go on naming the old file.
    if (was.st_nlink > 1) {
        return std::make_error_code(std::errc::too_many_links);
    }
    // A loop device or a program that writes it (a log) would go on writing
    // the old file, its name gone.
    const int mode = ::fcntl(old, F_GETFL);
    if (mode < 0 || ::fcntl(old, F_SETLEASE, (mode & O_ACCMODE) == O_RDONLY ? F_RDLCK : F_WRLCK) != 0) {
        return errno == EAGAIN ? std::make_error_code(std::errc::text_file_busy) : errno_error();
    }
    if (!again) {
        ::fcntl(old, F_SETLEASE, F_UNLCK);
    }
    // No rename replaces a file mounted over its name, nor reaches one
    // mounted elsewhere, nor crosses a mount over the folder's.
    if ((::statx(old, "", AT_EMPTY_PATH, 0, &mount) == 0 && (mount.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) ||
        (!again && mounted_elsewhere(was)) || was.st_dev != now.st_dev) {
        return std::make_error_code(std::errc::device_or_resource_busy);
    }
    // A folder that takes no rename.
    if (::statx(folder_.get(), "", AT_EMPTY_PATH, 0, &held) == 0 &&
        (held.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0) {
        return std::make_error_code(std::errc::operation_not_permitted);
    }
    // A file system where another road to the file may go unseen (FUSE,
    // an overlay, a network), or where it is not known what a rename keeps.
    const unsigned long type = file_system(old);
    return type == ext4 || type == xfs || type == btrfs || type == tmpfs
               ? std::error_code()
               : std::make_error_code(std::errc::operation_not_supported);
}

std::error_code carry_extras(int from, int to) {
    if (const auto error = carry_flags(from, to)) {
        return error;
    }
    std::string names;
    std::string had;
    std::string value;
    std::string there;
    if (auto error = attribute_names(from, names)) {
        return error;
    }
    if (auto error = attribute_names(to, had)) {
        return error;
    }
    for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        if (auto error = attribute(from, name, value)) {
            return error;
        }
        // What the new file has already, a label say, need not be set.
        const bool same = listed(had, name) && !attribute(to, name, there) && there == value;
        if (!same && ::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            return errno_error();
        }
    }
    // What it was given and the old file lacks: a folder's default ACL.
    for (std::size_t at = 0; at < had.size(); at = had.find('\0', at) + 1) {
        const char* name = had.c_str() + at;
        if (!listed(names, name) && ::fremovexattr(to, name) != 0) {
            return errno_error();
        }
    }
    return {};
}

bool rewritten_where_it_lies(int fd) {
    const unsigned long type = file_system(fd);
    int flags = 0;
    if (type == 0 || (type == btrfs && (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 || (flags & FS_NOCOW_FL) == 0))) {
        return false;
    }
    // The extents, a batch at a time, until the last or a shared one.
    constexpr unsigned batch = 64;
    alignas(fiemap) std::array<unsigned char, sizeof(fiemap) + batch * sizeof(fiemap_extent)> space{};
    auto* const map = reinterpret_cast<fiemap*>(space.data());
    for (std::uint64_t from = 0;;) {
        space.fill(0);
        map->fm_start = from;
        map->fm_length = FIEMAP_MAX_OFFSET - from;
        map->fm_extent_count = batch;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
            // tmpfs shares no blocks, and has no map of them.
            return errno == EOPNOTSUPP;
        }
        const fiemap_extent* const extents = map->fm_extents;
        const unsigned found = map->fm_mapped_extents;
        for (unsigned at = 0; at < found; ++at) {
            if ((extents[at].fe_flags & FIEMAP_EXTENT_SHARED) != 0) {
                return false;
            }
        }
        if (found == 0 || (extents[found - 1].fe_flags & FIEMAP_EXTENT_LAST) != 0) {
            return true;
        }
        from = extents[found - 1].fe_logical + extents[found - 1].fe_length;
    }
}

bool opened_to_write(int old) {
    // A lease being broken shows what it is to become: none for an open to
    // write; a read lease where a write lease meets a reader.
    const int held = ::fcntl(old, F_GETLEASE);
    return held != F_RDLCK && held != F_WRLCK;
}

std::error_code drop_cached_page(int fd, std::int64_t offset) {
    // Only whole pages are dropped.
    const std::int64_t page = ::sysconf(_SC_PAGESIZE);
    const int failed = ::posix_fadvise(fd, offset / page * page, page, POSIX_FADV_DONTNEED);
    return {failed, std::generic_category()};
}

std::error_code rename_exclusive(int folder, const char* from, const char* to, bool exchange) {
    if (::renameat2(folder, from, folder, to, exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE) == 0) {
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

std::optional<std::error_code> write_back(int fd, bool wait, std::int64_t offset, std::int64_t size) {
    const unsigned waits = wait ? SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WAIT_AFTER : 0;
    return ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE | waits) == 0 ? std::error_code() : errno_error();
}

std::error_code kernel_copy(int in, int out, std::int64_t offset, std::int64_t size, std::int64_t& copied) {
    // The kernel caps one call near 2 GiB; asking for 1 GiB keeps every
    // request whole on 32-bit systems too.
    constexpr std::int64_t most_per_call = std::int64_t{1} << 30;
    for (copied = 0; copied < size;) {
        loff_t in_offset = offset + copied;
        loff_t out_offset = in_offset;
        const auto request = static_cast<size_t>(std::min(size - copied, most_per_call));
        const ssize_t done = ::copy_file_range(in, &in_offset, out, &out_offset, request, 0);
        if (done > 0) {
            copied += done;
            continue;
        }
        if (done < 0 && errno == EINTR) {
            continue;
        }
        // Files in /proc and /sys copy nothing this way (kernels 5.3 to
        // 5.18); the buffered copy reads them, and tells an input that ended.
        if (copied == 0 && (done == 0 || means_unsupported(errno))) {
            return std::make_error_code(std::errc::operation_not_supported);
        }
        return done == 0 ? std::error_code() : errno_error();
    }
    return {};
}

std::error_code punch_hole(int fd, std::int64_t offset, std::int64_t size) {
    if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, size) == 0) {
        return {};
    }
    return means_unsupported(errno) ? std::make_error_code(std::errc::operation_not_supported) : errno_error();
}

}  // namespace bytemend
