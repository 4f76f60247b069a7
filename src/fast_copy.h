#pragma once

#include <cstdint>
#include <optional>
#include <system_error>

// The system's own fast ways to copy; operation_not_supported where none.

namespace bytemend {

// Makes `out` share `in`'s first `length` bytes (a reflink on Btrfs or XFS),
// keeping what `out` holds past them. EINVAL for a length past `in`'s end,
// for a last block `in` ends inside where `out` goes on, for `in` itself.
std::error_code clone_file(int in, int out, std::int64_t length);

// Copies `size` bytes at `offset` of `in` to the same offset of `out` inside
// the kernel: `copied` bytes, fewer where the input ended first.
std::error_code kernel_copy(int in, int out, std::int64_t offset, std::int64_t size, std::int64_t& copied);

// Turns `size` bytes at `offset` of `fd` into a hole, keeping its length.
std::error_code punch_hole(int fd, std::int64_t offset, std::int64_t size);

struct Extent {
    std::int64_t start;
    std::int64_t end;  // one past the last byte
};

// The first run of data in `fd` from `from` to `length`, holes skipped;
// nothing when only holes are left. All data where the system cannot tell.
std::optional<Extent> next_data(int fd, std::int64_t from, std::int64_t length);

}  // namespace bytemend
