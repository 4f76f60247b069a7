#pragma once

#include <cstdint>

#include "input.h"
#include "output.h"

namespace bytemend {

// Stores the byte at its location in the output, touching nothing else: the
// whole patch when the output is the input. Refused where the file is now
// shorter than that: another program cut it meanwhile.
bool patch_in_place(const Output& output, std::int64_t location, unsigned char byte);

// Writes the input's bytes over the output at the same offsets, the byte at
// location replaced, and cuts it to the input's length: by sharing blocks or
// in the kernel where it can, else through a buffer; sparse stays sparse.
// Nothing is emptied first: an output overwritten where it lies that is
// really the input only has its byte changed.
bool copy_patched(const Input& input, const Output& output, std::int64_t location,
                  unsigned char byte);

// Writes the output, as open_output found it: the byte alone where it is
// the input, else the copy; a replacement that finds no room after all
// overwrites the old file instead, where that needs no more room.
bool write_output(const Input& input, Output& output, std::int64_t location, unsigned char byte);

// The copy through a buffer alone, every byte in order, the byte at location
// replaced as it passes: for an output that is not a regular file.
bool copy_through_buffer(const Input& input, const Output& output, std::int64_t location,
                         unsigned char byte);

}  // namespace bytemend
