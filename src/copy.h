#pragma once

#include <cstdint>

#include "input.h"
#include "output.h"

namespace bytemend {

// Stores the byte at its location in the output, touching nothing else: the
// whole patch when the output is the input, the last step of a copy.
bool patch_in_place(const Output& output, std::int64_t location, unsigned char byte);

// Writes the input's bytes over the output at the same offsets with the byte
// at location replaced, and cuts the output to the input's length: by sharing
// blocks or inside the kernel where it can, through a buffer where it cannot.
// A sparse input gives a sparse output. Nothing of the output is emptied
// first, so an output that is really the input only has its byte changed.
bool copy_patched(const Input& input, const Output& output, std::int64_t location,
                  unsigned char byte);

// The copy through a buffer alone, every byte in order with the byte at
// location replaced as it passes: what an output that is not a regular file
// gets, and what every other copy falls back to.
bool copy_through_buffer(const Input& input, const Output& output, std::int64_t location,
                         unsigned char byte);

}  // namespace bytemend
