#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "file.h"

// What differs between operating systems: the arguments as typed, opening,
// removing and telling files apart, reading and writing at an offset, and the
// system's own ways to make and copy a file (a file that gets its name only
// when complete, sharing blocks, copying inside the kernel, finding holes).
// Each system has a source file of its own behind this one interface; where a
// system has no such way, its file answers so and the caller does the work
// the plain way. Paths are in UTF-8 on Windows, as typed elsewhere.

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

// Sets the process up for one run, and gives the command's arguments as
// typed in argc and argv. A standard descriptor that is closed is opened on
// the null device, so that no file of the run takes its number and gets the
// report; signals that would end a run silently (a pipe whose reader has
// gone, a file grown past the size limit) become errors that are reported.
// On Windows the arguments come from the wide command line, each name
// exactly as typed (see platform_windows.cpp). False, once it has said why,
// where there are no arguments to run with.
bool start_process(int& argc, char**& argv);

// Writes text to standard output or error: a Windows console gets it
// through the wide calls, so that names show as typed whatever its code
// page; anything else gets the bytes. False where it could not be written.
bool put_text(std::FILE* stream, std::string_view text);

// The words for `error`, the errno of a call that just failed: Windows' own
// where a Windows call failed, else the C library's.
std::string error_text(int error);

// Opens as open() does, any name whatever the system's code page.
File open_file(const char* path, int flags, mode_t mode = 0);

// Removes the file at `path`, even one that Windows marks read-only.
bool remove_file(const char* path);

// The identity of an open file; nothing where the system cannot tell.
std::optional<FileId> file_id(int fd, const struct stat& status);

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

// The POSIX systems' ways to make a new file (see new_file.h), each of which
// Linux has and the others may not; Windows makes its files its own way.

// Opens a new file with no name yet, for reading and writing, in the folder
// where `path` would be, so that a run that dies midway leaves nothing
// behind. A closed File where the system or the file system cannot.
File open_unnamed(const char* path, mode_t mode);

// Gives the file from open_unnamed its name; fails if the name is taken.
bool give_name(int fd, const char* path);

// Renames `from` to `to` unless `to` exists (EEXIST); EINVAL where the
// system or the file system cannot rename that way.
bool rename_exclusive(const char* from, const char* to);

// Makes `out` share all of `in`'s blocks from its start (a reflink on Btrfs
// or XFS): no data moves and no space is used until one of the files changes.
// Anything `out` held past `in`'s length stays. False wherever that is not
// possible, and for two names of one file, where the kernel refuses it.
bool clone_file(int in, int out);

// Starts writing the file's changed data to its disk, and does not wait for
// it. A file overwritten in place is otherwise written out whenever the
// system gets round to it, so that a crash soon after leaves its old data,
// where ext4 writes out cp's file, truncated first, as it is closed. False,
// with errno set, only where writing failed.
bool start_writeback(int fd);

// What a fast path of the system's own did.
enum class FastPath {
    done,         // all of it
    unsupported,  // nothing; do it the plain way instead
    short_input,  // the input ended before the length it had when measured
    failed,       // errno says why
};

// Copies `size` bytes at `offset` of `in` to the same offset of `out` without
// passing them through this process.
FastPath kernel_copy(int in, int out, std::int64_t offset, std::int64_t size);

// Turns `size` bytes at `offset` of `fd` into a hole that reads as zeros,
// keeping the file's length.
FastPath punch_hole(int fd, std::int64_t offset, std::int64_t size);

struct Extent {
    std::int64_t start;
    std::int64_t end;  // one past the last byte
};

// The first run of data in `fd` at or after `from` and before `length`, with
// holes skipped, or nothing when only holes are left. Where the file system
// cannot tell, all of it is data.
std::optional<Extent> next_data(int fd, std::int64_t from, std::int64_t length);

}  // namespace bytemend
