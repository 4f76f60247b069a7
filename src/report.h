#pragma once

#include <optional>

#include "platform.h"

namespace bytemend {

// Whether standard output is the file that `id` stands for, so that the
// report would be written into the data. A terminal or the null device keeps
// nothing for it to spoil, and never counts.
bool is_standard_output(const std::optional<FileId>& id);

// Refuses a run whose input or output is standard output's file (">out.bin",
// ">>out.bin", "1<>in.bin"), judged by what the names reach before either is
// opened, so that not a word is printed into it: the one line that says why
// goes to standard error, the only place left.
bool report_has_a_place(const char* input_path, const char* output_path);

}  // namespace bytemend
