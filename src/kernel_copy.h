#pragma once

#include <cstdint>
#include <optional>

// The operating system's own ways to copy a file: sharing its blocks, copying
// inside the kernel, and finding its holes. Each has a portable answer where
// the system has no such way, and the caller's buffered copy does the work.

namespace bytemend {

// Makes the empty `out` share all of `in`'s blocks (a reflink on Btrfs or
// XFS): no data moves and no space is used until one of the files changes.
// False, with nothing written, wherever that is not possible.
bool clone_file(int in, int out);

enum class KernelCopy {
    done,         // all bytes copied
    unsupported,  // nothing copied; copy through a buffer instead
    short_input,  // the input ended before the length it had when measured
    failed,       // errno says why
};

// Copies `size` bytes at `offset` of `in` to the same offset of `out` without
// passing them through this process.
KernelCopy kernel_copy(int in, int out, std::int64_t offset, std::int64_t size);

struct Extent {
    std::int64_t start;
    std::int64_t end;  // one past the last byte
};

// The first run of data in `fd` at or after `from` and before `length`, with
// holes skipped, or nothing when only holes are left. Where the file system
// cannot tell, all of it is data.
std::optional<Extent> next_data(int fd, std::int64_t from, std::int64_t length);

}  // namespace bytemend
