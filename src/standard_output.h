#pragma once

#include "file_system.h"

// A run whose input or output is the file of standard output or error
// (">out.bin", "2>out.bin", "1<>in.bin") would mix a line into the data,
// and is refused on the other one. No character device counts.

namespace bytemend {

// Judged by what the names reach, before a word is printed into the file:
// the output's name first, then the input's. False once refused.
bool check_standard_output(const char* input_path, const char* output_path);

// Judged by the open file, which also shows a loop device's file. `doing`
// is "read" for the input, "write" for the output. False once refused.
bool check_standard_output(const char* doing, const char* path, const OpenFile& file);

}  // namespace bytemend
