#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>

#include "file.h"

// Files and what makes each one itself: opening and removing them, telling
// them apart, reading and writing at an offset; each system's own source
// file behind this header. Paths are UTF-8 on Windows, as typed elsewhere.
// A call that can fail returns its error, in the system's words, and hands
// back the rest through its last arguments.

namespace bytemend {

// What makes a file itself, whatever name reaches it: different identities
// are two files; one identity is one file, but where two files show one
// (bindfs, Wine's drives: see identity_may_lie).
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

// What a file holds, as far as size and times tell: a file written
// meanwhile shows another state at each look.
struct FileState {
    std::int64_t size = 0;
    std::int64_t modified = 0;  // the data's last change, in the system's ticks
    std::int64_t changed = 0;   // the last change of anything about the file
    bool operator==(const FileState&) const = default;
};

// errno's error as a value, taken right after a C library call failed.
inline std::error_code errno_error() {
    return {errno, std::generic_category()};
}

// The identity of an open file; nothing where the system cannot tell.
std::optional<FileId> file_id(int fd);

// The state of an open file now, asked of the file system itself; nothing
// where it cannot be had. All devices show one state: their nodes' times
// are not the device's.
std::optional<FileState> file_state(int fd);

// Whether two opens of one identity are one file to the kernel: a lock
// taken through one, tested through the other. "two" is also what FUSE
// makes of one file by two hard-linked names; "taken" where another
// program's lock stands in the way, and any answer would be a guess.
enum class Probe { one, two, unknown, taken };
Probe probe_one_file(int a, int b);

// Whether two different files may show the identity of the file open in
// `fd`: on FUSE (bindfs gives a mount inside its tree its own device), and
// wherever it cannot be ruled out (Wine gives every drive the volume
// serial 0; cloned disks share theirs).
bool identity_may_lie(int fd);

// The identity of the file that opening `path` would reach, through any
// symlinks; nothing where it reaches none.
std::optional<FileId> target_id(const char* path);

// The stretch of a file that a block device shows: down through loop
// devices (and their partitions) to the file beneath. Nothing for other
// files and stacks; not reached where a loop device stands on a device
// that cannot be opened, and so may show any file.
struct Window {
    FileId file;
    std::int64_t offset = 0;
    std::int64_t length = 0;
    bool reached = true;
    [[nodiscard]] bool overlaps(const Window& other) const {
        return file == other.file && offset < other.offset + other.length &&
               other.offset < offset + length;
    }
};
std::optional<Window> device_window(int fd, const struct stat& status);

// Whether `path` reaches a block device, on a system where device_window
// can tell what one shows.
bool is_block_device(const char* path);

// An open file as this run found it: its descriptor, owned elsewhere, and
// its status and identity as it was opened.
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

// What an open file shows of a file: all of a regular file, or what is
// beneath a device.
inline std::optional<Window> window_of(const OpenFile& file) {
    if (S_ISREG(file.status.st_mode)) {
        return file.id ? std::optional<Window>(
                             {.file = *file.id, .offset = 0, .length = file.status.st_size, .reached = true})
                       : std::nullopt;
    }
    return device_window(file.fd, file.status);
}

// Opens a file for reading: a FIFO without a writer at once, so that the
// caller can refuse it.
std::error_code open_for_reading(const char* path, File& file);

// Opens an existing file to be written, emptying nothing: a regular file
// to be read back too where it may be; a FIFO refused where none reads it
// (ENXIO); a running program, which cannot be written, only to be read, to
// be replaced. ENOENT where there is none.
std::error_code open_for_writing(const char* path, File& file);

// Makes `file` an open of the same file, never reached by name, to be
// read only or written too: a file to be replaced is held only to be read,
// so that the kernel can tell whether another program writes it. The
// error, and `file` as it was, where that cannot be (a running program
// cannot be written).
std::error_code reopen(File& file, bool writable);

// Whether a failed write means the file system has no more room for this
// user: full, or past a quota.
bool out_of_room(const std::error_code& error);

// How far what was written to a file or device is sent to its disk: its
// writeback started, not waited for (a failed write still counts); written
// there, and waited for, before the file system records what comes next of
// the file (a name); or durable, its length too and past the device's cache:
// a file overwritten where it lies would otherwise mix old and new after a
// power loss. A start or a write takes `size` bytes from `offset` (0: to
// the end) where the system can; nothing to do for a pipe or a terminal. A system without the first two does the third, or
// nothing for a start.
enum class ToDisk { started, written, durable };
std::error_code send_to_disk(int fd, ToDisk how, std::int64_t offset = 0, std::int64_t size = 0);

// The bytes that this process may still take on the file system of `fd`;
// nothing where the system cannot tell.
std::optional<std::int64_t> free_space(int fd);

// Whether writing `length` bytes over the file in `fd` needs no new
// blocks, as far as the system tells: as long, with no holes, and not
// shared nor on a file system that writes every change anew.
bool overwrite_fits(int fd, std::int64_t length);

// Drops a block device's cached page at `offset`, so that a write there
// reads the block afresh: written back whole, a stale page would undo
// another program's change to the file beneath a loop device. A page that
// another program wrote and the device has not yet taken stays.
std::error_code drop_cached_page(int fd, std::int64_t offset);

// Reads or writes at an offset, or where the file stands for a negative
// one, through signals: `done` bytes, none at the end of the file.
std::error_code read_at(int fd, void* data, size_t size, std::int64_t offset, size_t& done);
std::error_code write_at(int fd, const void* data, size_t size, std::int64_t offset, size_t& done);

// Cuts the file to `length` bytes, or makes it that long, as ftruncate does.
std::error_code truncate_file(int fd, std::int64_t length);

}  // namespace bytemend
