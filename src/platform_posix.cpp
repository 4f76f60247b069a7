// POSIX systems: identity from device and inode, positional reads and writes,
// symlinks followed by hand where a new file is to be made.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "fast_copy.h"
#include "files.h"
#include "messages.h"
#include "new_file.h"
#include "startup.h"

namespace bytemend {

namespace {

std::int64_t nanoseconds(std::time_t seconds, long fraction) {
    return std::int64_t{seconds} * 1000000000 + fraction;
}

FileId id_of(const struct stat& status) {
    // Two device nodes may stand for one disk: there the device is the file,
    // and its number names it.
    if (S_ISBLK(status.st_mode)) {
        return FileId{.volume = UINT64_MAX, .index = static_cast<std::uint64_t>(status.st_rdev)};
    }
    return FileId{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// Turns `name`, in a buffer of `room` bytes, into where a new file of that
// name would be made: the end of its chain of symlinks, each relative to its
// own folder, or the name itself. False, with errno set, past 40 links
// (ELOOP), as the system gives up there too, or for a name past the room.
bool follow_links(char* name, std::size_t room) {
    char target[name_room];
    for (int followed = 0;; ++followed) {
        const ssize_t length = ::readlink(name, target, sizeof target);
        if (length < 0) {
            // Not a link (EINVAL) or nothing there (ENOENT): the file goes here.
            return errno == EINVAL || errno == ENOENT;
        }
        if (followed == 40) {
            errno = ELOOP;
            return false;
        }
        // A relative target is relative to the link's own folder.
        const char* slash = std::strrchr(name, '/');
        const std::size_t folder =
            target[0] == '/' || slash == nullptr ? 0 : static_cast<std::size_t>(slash - name) + 1;
        if (static_cast<std::size_t>(length) == sizeof target ||
            folder + static_cast<std::size_t>(length) >= room) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(name + folder, target, static_cast<std::size_t>(length));
        name[folder + static_cast<std::size_t>(length)] = '\0';
    }
}

// The name for the new file's `attempt`-th try beside `path`, in its folder.
bool temporary_name(const char* path, unsigned attempt, std::array<char, name_room>& name) {
    const char* slash = std::strrchr(path, '/');
    const int folder = slash == nullptr ? 0 : static_cast<int>(slash - path) + 1;
    const int size = std::snprintf(name.data(), name.size(), "%.*s.bytemend-%ld-%u.tmp", folder, path,
                                   static_cast<long>(::getpid()), attempt);
    if (size < 0 || static_cast<std::size_t>(size) >= name.size()) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// Errors that mean "not on this file system": no hard links (FAT, many
// FUSE file systems), not that the link went wrong.
bool cannot_link(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV;
}

// Renames `from` to `to`, never in place of a file at `to` (EEXIST).
bool rename_without_replacing(const char* from, const char* to) {
    if (rename_exclusive(from, to)) {
        return true;
    }
    if (errno != EINVAL) {
        return false;
    }
    // Without an exclusive rename: a second name, then the first one gone.
    if (::link(from, to) == 0) {
        ::unlink(from);
        return true;
    }
    if (!cannot_link(errno)) {
        return false;
    }
    // Without links either: a plain rename once the name is seen to be
    // free, which leaves only an instant for a file that takes it meanwhile
    // to be replaced.
    struct stat taken {};
    if (::lstat(to, &taken) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from, to) == 0;
}

}  // namespace

bool start_process(int&, char**&) {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free number, which is this one.
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}

bool put_text(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

std::string error_text(int error) {
    return std::strerror(error);
}

std::optional<FileId> file_id(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return std::nullopt;
    }
    return id_of(status);
}

std::optional<FileState> file_state(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return std::nullopt;
    }
    if (S_ISBLK(status.st_mode)) {
        return FileState{};
    }
#if defined(AT_STATX_FORCE_SYNC)
    // FUSE keeps a kernel inode per name, each with the attributes it last
    // asked for (for a second, by default): a file written through one name
    // shows its old size through the other until asked again.
    struct statx now {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_SIZE | STATX_MTIME | STATX_CTIME,
                &now) == 0) {
        return FileState{static_cast<std::int64_t>(now.stx_size),
                         nanoseconds(now.stx_mtime.tv_sec, now.stx_mtime.tv_nsec),
                         nanoseconds(now.stx_ctime.tv_sec, now.stx_ctime.tv_nsec)};
    }
#endif
    return FileState{status.st_size, nanoseconds(status.st_mtim.tv_sec, status.st_mtim.tv_nsec),
                     nanoseconds(status.st_ctim.tv_sec, status.st_ctim.tv_nsec)};
}

Probe probe_one_file([[maybe_unused]] int a, [[maybe_unused]] int b) {
#if defined(F_OFD_SETLK) && defined(F_OFD_GETLK)
    // A lock that belongs to the open file, not the process, on the last byte
    // a file can have, which no program locks: a read lock through `a`
    // stands in the way of a write lock through `b` only where the kernel
    // holds one file behind both. One already there, another program's,
    // would make the answer a guess.
    const auto lock = [](int fd, int command, short type) {
        struct flock range {};
        range.l_type = type;
        range.l_whence = SEEK_SET;
        range.l_start = std::numeric_limits<off_t>::max();
        range.l_len = 1;
        return ::fcntl(fd, command, &range) == 0 ? std::optional<short>(range.l_type) : std::nullopt;
    };
    if (lock(b, F_OFD_GETLK, F_WRLCK) != F_UNLCK || !lock(a, F_OFD_SETLK, F_RDLCK)) {
        return Probe::unknown;
    }
    const auto seen = lock(b, F_OFD_GETLK, F_WRLCK);
    lock(a, F_OFD_SETLK, F_UNLCK);
    if (seen) {
        return *seen == F_UNLCK ? Probe::two : Probe::one;
    }
#endif
    return Probe::unknown;
}

std::optional<FileId> path_id(const char* path) {
    struct stat status {};
    if (::lstat(path, &status) != 0) {
        return std::nullopt;
    }
    return id_of(status);
}

std::optional<FileId> target_id(const char* path) {
    struct stat status {};
    if (::stat(path, &status) != 0) {
        return std::nullopt;
    }
    return id_of(status);
}

File open_for_reading(const char* path) {
    // O_NONBLOCK only for the open itself: the reads that follow may wait.
    File file(::open(path, O_RDONLY | O_NONBLOCK));
    // A file under a lease (Samba's oplocks) answers a non-blocking open
    // with EWOULDBLOCK while the holder is told to let go; a FIFO never does.
    if (!file && errno == EWOULDBLOCK) {
        file = File(::open(path, O_RDONLY));
    }
    if (file && ::fcntl(file.get(), F_SETFL, 0) != 0) {
        return {};
    }
    return file;
}


bool NewFile::create(const char* path, mode_t mode) {
    if (!take_path(path) || !follow_links(path_.data(), path_.size())) {
        return false;
    }
    file_ = open_unnamed(path_.data(), mode);
    state_ = State::unnamed;
    for (unsigned attempt = 0; !file_ && attempt < 100; ++attempt) {
        if (!temporary_name(path_.data(), attempt, temporary_)) {
            return false;
        }
        file_ = File(::open(temporary_.data(), O_RDWR | O_CREAT | O_EXCL, mode));
        state_ = State::temporary;
        if (!file_ && errno != EEXIST) {
            state_ = State::none;
            return false;
        }
    }
    id_ = file_ ? file_id(file_.get()) : std::nullopt;
    if (id_) {
        return true;
    }
    // Without its identity it could not be told apart from another file
    // later; made by this run an instant ago, it is still this run's own.
    if (file_ && state_ == State::temporary) {
        const int error = errno;
        ::unlink(temporary_.data());
        errno = error;
    }
    state_ = State::none;
    return false;
}

bool NewFile::keep() {
    if (state_ == State::unnamed) {
        if (!give_name(file_.get(), path_.data())) {
            return false;
        }
    } else if (!rename_without_replacing(temporary_.data(), path_.data())) {
        return false;
    }
    state_ = State::kept;
    return true;
}

ssize_t read_at(int fd, void* data, size_t size, std::int64_t offset) {
    return ::pread(fd, data, size, offset);
}

ssize_t write_at(int fd, const void* data, size_t size, std::int64_t offset) {
    return ::pwrite(fd, data, size, offset);
}

File open_file(const char* path, int flags, mode_t mode) {
    return File(::open(path, flags, mode));
}

bool remove_file(const char* path) {
    return ::unlink(path) == 0;
}

std::optional<Extent> next_data([[maybe_unused]] int fd, std::int64_t from, std::int64_t length) {
    if (from >= length) {
        return std::nullopt;
    }
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
    const off_t start = ::lseek(fd, from, SEEK_DATA);
    // ENXIO: nothing but holes up to the end of the file.
    if (start >= length || (start < 0 && errno == ENXIO)) {
        return std::nullopt;
    }
    if (start >= 0) {
        const off_t end = ::lseek(fd, start, SEEK_HOLE);
        return Extent{start, end < 0 ? length : std::min<std::int64_t>(end, length)};
    }
#endif
    // A file system that does not report holes, or a system that cannot ask:
    // all of it is data.
    return Extent{from, length};
}

}  // namespace bytemend
