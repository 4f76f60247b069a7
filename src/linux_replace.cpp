// Linux's ways to make and replace a file, and why not to replace one.

#include <acl/libacl.h>
#include <attr/error_context.h>
#include <attr/libattr.h>
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "file_system.h"
#include "linux.h"
#include "new_file.h"
#include "posix.h"

namespace bytemend {

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

std::error_code rename_exclusive(int folder, const char* from, const char* to, bool exchange) {
    if (::renameat2(folder, from, folder, to, exchange ? RENAME_EXCHANGE : RENAME_NOREPLACE) == 0) {
        return {};
    }
    // ENOSYS before Linux 3.15; EINVAL from file systems without it. Not
    // the wider list: EPERM from an append-only folder is a refusal.
    return errno == ENOSYS ? std::make_error_code(std::errc::invalid_argument) : errno_error();
}

namespace {

// chattr's flags, NOCOW above all (Btrfs takes it only while a file is
// empty), and XFS's project, which quotas count by.
std::error_code carry_flags(int from, int to) {
    constexpr int settable = (FS_FL_USER_MODIFIABLE | FS_NOCOW_FL | FS_NOCOMP_FL) & ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
    int was = 0;
    int now = 0;
    // A file system without flags (ENOTTY, or EINVAL from FUSE) has none to lose.
    if (::ioctl(from, FS_IOC_GETFLAGS, &was) != 0) {
        return means_unsupported(errno) ? std::error_code() : errno_error();
    }
    if ((was & settable) != 0 && ::ioctl(to, FS_IOC_GETFLAGS, &now) != 0) {
        return errno_error();
    }
    int wanted = (now & ~settable) | (was & settable);
    if (wanted != now && ::ioctl(to, FS_IOC_SETFLAGS, &wanted) != 0) {
        return errno_error();
    }
    fsxattr project{};
    fsxattr given{};
    if (::ioctl(from, FS_IOC_FSGETXATTR, &project) != 0) {
        return means_unsupported(errno) ? std::error_code() : errno_error();
    }
    if (::ioctl(to, FS_IOC_FSGETXATTR, &given) != 0) {
        return errno_error();
    }
    const bool same = given.fsx_projid == project.fsx_projid;
    given.fsx_projid = project.fsx_projid;
    return same || ::ioctl(to, FS_IOC_FSSETXATTR, &given) == 0 ? std::error_code() : errno_error();
}

// Whether `old` is bind-mounted elsewhere (as container runtimes hand
// /etc/hosts to a container), which would go on with the old file; only
// this mount namespace's mounts can be seen.
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

}  // namespace

// A read lease is refused while anyone has the file open to write it, so
// readers, mappers and a running program keep the old file, as `install`
// leaves them; where `old` could not be held only to be read (no /proc), a
// write lease, which any open refuses. Asked `again`, the lease is kept
// (opened_to_write); the mounts are not read again, as a bind mount made
// meanwhile is rarer than an open.
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
    // A loop device or a program that writes it (a log) would go on with it.
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

namespace {

// The files at hand for libattr's check, which it hands the context it was
// given: the context first, so that one points at the other.
struct Carry {
    error_context context{};
    int from;
    int to;
};

std::optional<std::string> value_of(int fd, const char* name) {
    const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
    std::string value(static_cast<std::size_t>(std::max<ssize_t>(size, 0)), '\0');
    if (size < 0 || ::fgetxattr(fd, name, value.data(), value.size()) != size) {
        return std::nullopt;
    }
    return value;
}

// As cp does: not what /etc/xattr.conf keeps to its file (security.evm,
// user.Beagle.*), nor the ACL, which perm_copy_fd gives; nor a value the
// new file has already (a label, say): setting it again could need rights
// that the copy does not.
int to_carry(const char* name, error_context* context) {
    const auto* carry = reinterpret_cast<const Carry*>(context);
    if (::attr_copy_check_permissions(name, context) == 0) {
        return 0;
    }
    const auto there = value_of(carry->to, name);
    return there && there == value_of(carry->from, name) ? 0 : 1;
}

}  // namespace

std::error_code copy_attributes_and_flags(int from, int to) {
    if (const auto error = carry_flags(from, to)) {
        return error;
    }
    // The ACL last: it also clears one the folder gave the new file.
    Carry carry{.from = from, .to = to};
    errno = 0;
    if (::attr_copy_fd(nullptr, from, nullptr, to, to_carry, &carry.context) != 0 ||
        ::perm_copy_fd(nullptr, from, nullptr, to, nullptr) != 0) {
        return errno != 0 ? errno_error() : std::make_error_code(std::errc::operation_not_supported);
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
            return means_unsupported(errno);
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

}  // namespace bytemend
