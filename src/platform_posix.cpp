// POSIX systems: identity from device and inode, positional reads and writes,
// symlinks followed by hand where a new file is to be made.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform.h"

namespace bytemend {

namespace {

std::int64_t nanoseconds(const struct timespec& time) {
    return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec;
}

FileId id_of(const struct stat& status) {
    // Two device nodes may stand for one disk: there the device is the file,
    // and its number names it; the nodes' own times are not its state.
    if (S_ISBLK(status.st_mode)) {
        return FileId{.volume = UINT64_MAX, .index = static_cast<std::uint64_t>(status.st_rdev)};
    }
    return FileId{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
                  status.st_size, nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

}  // namespace

char** start_process(int&, char** argv) {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free number, which is this one.
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return argv;
}

std::optional<FileId> file_id(int, const struct stat& status) {
    return id_of(status);
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
