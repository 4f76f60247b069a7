#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>

#include "file.h"

// Files and what makes each one itself, one source file a system. Paths are
// WTF-8 on Windows; a call that fails returns its error in the system's words.

namespace bytemend {

// Two identities are two files; one is one file, save where two files show
// one (identity_may_lie).
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

// What a file holds, as far as size and times tell.
struct FileState {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // the data's last change, in the system's ticks
    std::int64_t changed = 0;   // the last change of anything about the file
    bool operator==(const FileState&) const = default;
};

// errno as a value, taken right after a C library call failed.
inline std::error_code errno_error() {
    return {errno, std::generic_category()};
}

std::optional<FileId> file_id(int fd);

// The state of an open file now, asked of the file system itself. A block
// device shows one state always: its node's times are not the device's.
std::optional<FileState> file_state(int fd);

// Whether two opens of one identity are one file to the kernel, by a lock
// through one tested through the other. FUSE says "two" for two hard links
// of one file; "taken": another program's lock is in the way.
enum class Probe { one, two, unknown, taken };
Probe probe_one_file(int a, int b);

// Whether another file may show the identity of the file in `fd`: on FUSE
// (bindfs shows every mount beneath it under one device), or where it
// cannot be ruled out (Wine's drives all have serial 0; cloned disks).
bool identity_may_lie(int fd);

// The identity of the file that opening `path` would reach.
std::optional<FileId> target_id(const char* path);

// The stretch of a file that a block device shows, down through loop
// devices (and their partitions); nothing for other files and stacks. Not
// reached: a loop device stands on a device that cannot be opened.
struct Window {
    FileId file;
    std::int64_t offset = 0;
    std::int64_t length = 0;
    bool reached = true;
    [[nodiscard]] bool overlaps(const Window& other) const {
        return file == other.file && offset < other.offset + other.length && other.offset < offset + length;
    }
};
std::optional<Window> device_window(int fd, const struct stat& status);

// Whether `path` reaches a block device that device_window can see into.
bool is_block_device(const char* path);

// An open file as it was opened; the descriptor is owned elsewhere.
struct OpenFile {
    int fd = -1;
    struct stat status {};
    std::optional<FileId> id;
};

// Fills `file` with what the open `fd` is: its status and identity.
inline std::error_code describe(int fd, OpenFile& file) {
    file.fd = fd;
    if (::fstat(fd, &file.status) != 0) {
        return errno_error();
    }
    file.id = file_id(fd);
    return {};
}

// All of a regular file, or what a device shows.
inline std::optional<Window> window_of(const OpenFile& file) {
    if (S_ISREG(file.status.st_mode)) {
        return file.id ? std::optional<Window>({.file = *file.id, .offset = 0, .length = file.status.st_size})
                       : std::nullopt;
    }
    return device_window(file.fd, file.status);
}

// Opens a file for reading; a FIFO without a writer too, at once, for the caller to refuse.
std::error_code open_for_reading(const char* path, File& file);

// Opens an existing file to be written, emptying nothing: read back too
// where it may be; a FIFO with no reader refused (ENXIO); a running program
// only read, to be replaced. ENOENT where there is none.
std::error_code open_for_writing(const char* path, File& file);

// Opens the file in `file` again, not by name, to be read only or written
// too: one to be replaced is held only to be read, so that the kernel can
// tell whether another program writes it. Unchanged where that fails.
std::error_code reopen(File& file, bool writable);

// Whether a failed write found no room for this user: full, or past a quota.
bool out_of_room(const std::error_code& error);

// How far what was written goes to the disk: started (a failed write still
// counts); written and waited for, before what comes next (a name) is
// recorded; durable, its length and past the device's cache, lest an
// overwrite mix old and new after a power loss. The first two take `size`
// bytes from `offset` (0: to the end) where the system has them, else a
// write is durable, a start nothing. Only files and block devices go.
enum class ToDisk { started, written, durable };
std::error_code send_to_disk(int fd, ToDisk how, std::int64_t offset = 0, std::int64_t size = 0);

// The room this process has left on the file system of `fd`, in bytes.
std::optional<std::int64_t> free_space(int fd);

// Whether writing `length` bytes over the file in `fd` needs no new
// blocks: as long, no holes, not shared, not on a file system that writes
// every change anew.
bool overwrite_fits(int fd, std::int64_t length);

// Drops a block device's cached page at `offset`, lest, written back whole,
// it undo another program's change to the file beneath a loop device. A
// dirty page stays.
std::error_code drop_cached_page(int fd, std::int64_t offset);

// Reads or writes at an offset, or where the file stands for a negative
// one, through signals: `done` bytes, none at the end of the file.
std::error_code read_at(int fd, void* data, size_t size, std::int64_t offset, size_t& done);
std::error_code write_at(int fd, const void* data, size_t size, std::int64_t offset, size_t& done);

std::error_code truncate_file(int fd, std::int64_t length);

}  // namespace bytemend
