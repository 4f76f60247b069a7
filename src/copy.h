#pragma once

#include <cstdint>
#include <system_error>

#include "input.h"
#include "output.h"

namespace bytemend {

// Why a patch or a copy stopped short: the input ended early, no memory, a
// write's error, or another program cut a file patched in place.
struct Stop {
    enum class Why { none, read, memory, write, cut };
    Why why = Why::none;
    std::error_code error;    // a write's
    std::int64_t length = 0;  // a cut file's, now
    [[nodiscard]] bool done() const { return why == Why::none; }
};

// Stores the byte at its location in the output, touching nothing else.
Stop patch_in_place(const Input& input, const Output& output, std::int64_t location, unsigned char byte);

// Writes the input's bytes over the output at the same offsets, the byte at
// location replaced, cut to the input's length, sparse staying sparse. Not
// emptied first: an output that is really the input only has its byte changed.
Stop copy_patched(const Input& input, const Output& output, std::int64_t location, unsigned char byte);

// The copy through a buffer alone, every byte in order: for an output that
// is not a regular file.
Stop copy_through_buffer(const Input& input, const Output& output, std::int64_t location, unsigned char byte);

// Says why the copy or patch at `location` stopped; false then, else true.
bool say_stop(const Output& output, const Stop& stop, std::int64_t location);

}  // namespace bytemend
