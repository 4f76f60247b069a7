#pragma once

#include <cstdint>

namespace bytemend {

enum class KernelCopy {
    done,         // all bytes copied
    unsupported,  // nothing copied; copy through a buffer instead
    short_input,  // the input ended before the length it had when measured
    failed,       // errno says why
};

// Copies the first `length` bytes of `in` to `out`, starting at out's current
// position, without passing them through this process. This is the one place
// for the operating system's own copy; where there is none it answers
// unsupported and the caller's buffered copy does the work.
KernelCopy kernel_copy(int in, int out, std::int64_t length);

}  // namespace bytemend
