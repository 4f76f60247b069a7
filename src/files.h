#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "file.h"

// Files and what makes each one itself: opening and removing them by name,
// telling them apart, and reading and writing at an offset. Each system has
// a source file of its own behind this header. Paths are in UTF-8 on
// Windows, as typed elsewhere.

// Windows opens files as text, turning "\n" into "\r\n", unless told not to;
// elsewhere the flag does not exist and there is no difference.
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace bytemend {

// What makes a file itself, whatever name or link reaches it, and the state
// it is in. Two different files can share an identity: bindfs shows files of
// a file system mounted inside its tree with its own device number, and Wine
// gives every drive the volume serial 0. Their sizes and times still tell
// them apart, so one file is one identity in one state.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // the data's last change, in the system's ticks
    std::int64_t changed = 0;   // the last change of anything about the file
    bool operator==(const FileId&) const = default;
    [[nodiscard]] bool same_identity(const FileId& other) const {
        return volume == other.volume && index == other.index;
    }
};

// Opens as open() does, any name whatever the system's code page.
File open_file(const char* path, int flags, mode_t mode = 0);

// Removes the file at `path`, even one that Windows marks read-only.
bool remove_file(const char* path);

// The identity of an open file, in the state it is in now; nothing where
// the system cannot tell.
std::optional<FileId> file_id(int fd);

// The identity of what `path` names now, a symlink itself rather than its
// target; nothing, with errno set, where it names nothing.
std::optional<FileId> path_id(const char* path);

// The identity of the file that opening `path` would reach, through any
// symlinks; nothing where it reaches none.
std::optional<FileId> target_id(const char* path);

// The stretch of a file that a block device shows, where the system tells: a
// loop device's backing file, from where the device (or its partition)
// starts in it, for the device's length. Nothing for any other file, and for
// devices stacked any other way.
struct Window {
    FileId file;
    std::int64_t offset = 0;
    std::int64_t length = 0;
};
std::optional<Window> device_window(int fd, const struct stat& status);

// Opens a file for reading. A FIFO without a writer is opened at once rather
// than waited on, so that the caller can refuse it; a file under a lease is
// waited on until the lease holder lets go, as any program's open would.
File open_for_reading(const char* path);

// Reads or writes at an offset, as pread and pwrite do.
ssize_t read_at(int fd, void* data, size_t size, std::int64_t offset);
ssize_t write_at(int fd, const void* data, size_t size, std::int64_t offset);

// Room for a file name with its end: the longest path Linux takes.
constexpr std::size_t name_room = 4096;

}  // namespace bytemend
