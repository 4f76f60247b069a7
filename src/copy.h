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

// The buffered copy on its own, for outputs that cannot seek and for tests.
bool stream_copy(const Input& input, const Output& output, std::int64_t location,
                 unsigned char byte);

}  // namespace bytemend
