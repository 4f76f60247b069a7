#pragma once

#include "file_system.h"

// Standard output takes the report and standard error the messages: a run
// whose input or output is the file of either (">out.bin", "2>out.bin",
// "1<>in.bin") would mix a line into the data, and is refused on the other
// one. A terminal or the null device never counts.

namespace bytemend {

// Judged by what the names reach before either is opened, so that not a
// word is printed into the file: the output's name first, then the input's.
// False once refused.
bool check_standard_output(const char* input_path, const char* output_path);

// Judged by the open file, which also shows bytes shared through a loop
// device. `doing` is "read" for the input, "write" for the output. False
// once refused.
bool check_standard_output(const char* doing, const char* path, const OpenFile& file);

}  // namespace bytemend
