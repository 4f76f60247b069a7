#pragma once

#include <sys/stat.h>

#include <optional>

#include "file_system.h"

// Standard output takes the report: a run whose input or output is the same
// file (">out.bin", ">>out.bin", "1<>in.bin") would mix the report into the
// data, and is refused with one line on standard error, the only place
// left. A terminal or the null device keeps nothing for a report to spoil,
// and never counts.

namespace bytemend {

// Judged by what the names reach before either is opened, so that not a
// word is printed into the file: the output's name first, then the input's.
// False once refused.
bool check_standard_output(const char* input_path, const char* output_path);

// Judged by the open file, which also counts where standard output and the
// file share bytes through a loop device: one on the other, or both on
// overlapping stretches of one file. `doing` is "read" for the input,
// "write" for the output. False once refused.
bool check_standard_output(const char* doing, const char* path, int fd, const struct stat& status,
                           const std::optional<FileId>& id);

}  // namespace bytemend
