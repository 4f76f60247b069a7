#include "platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#endif

namespace bytemend {

#if defined(_WIN32)

namespace {

// The volume serial number and file index: Windows' st_ino is always 0.
std::optional<FileId> handle_id(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber,
                  (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

std::optional<FileId> file_id(int fd, const struct stat&) {
    return handle_id(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
}

std::optional<FileId> path_id(const char* path) {
    // No access asked and every sharing mode allowed, so that this opens
    // whatever else has the file open; a link is looked at, not followed.
    const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return std::nullopt;
    }
    const auto id = handle_id(handle);
    CloseHandle(handle);
    return id;
}

File open_for_reading(const char* path) {
    return File(::open(path, O_RDONLY | O_BINARY));
}

// The C runtime's opens do not follow a link to a missing file: the name
// itself is where a new file goes.
bool follow_links(char*, std::size_t) {
    return true;
}

// One thread, so moving the position first is safe; nothing else reads it.
ssize_t read_at(int fd, void* data, size_t size, std::int64_t offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) {
        return -1;
    }
    return ::_read(fd, data, static_cast<unsigned>(size));
}

ssize_t write_at(int fd, const void* data, size_t size, std::int64_t offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) {
        return -1;
    }
    return ::_write(fd, data, static_cast<unsigned>(size));
}

#else

std::optional<FileId> file_id(int, const struct stat& status) {
    // Two device nodes may stand for one disk: there the device is the file.
    if (S_ISBLK(status.st_mode)) {
        return FileId{UINT64_MAX, static_cast<std::uint64_t>(status.st_rdev)};
    }
    return FileId{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<FileId> path_id(const char* path) {
    struct stat status {};
    if (::lstat(path, &status) != 0) {
        return std::nullopt;
    }
    return file_id(-1, status);
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

#endif

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
    return File(::open(folder, O_TMPFILE | O_WRONLY, mode));
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

bool clone_file(int in, int out) {
    return ::ioctl(out, FICLONE, in) == 0;
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

FastPath kernel_copy(int, int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
}

FastPath punch_hole(int, std::int64_t, std::int64_t) {
    return FastPath::unsupported;
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
