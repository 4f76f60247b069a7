#pragma once

#include <optional>

#include "files.h"

// The format strings of say and say_error are checked as printf's are;
// MinGW's C++ library formats as C99 says, not as Windows' runtime does.
#if defined(__MINGW32__)
#define BYTEMEND_PRINTF __attribute__((format(gnu_printf, 1, 2)))
#else
#define BYTEMEND_PRINTF __attribute__((format(printf, 1, 2)))
#endif

namespace bytemend {

// Prints, as printf does, to standard output (the report and the messages)
// or to standard error (a refusal that standard output cannot take), and
// shows names as typed on a Windows console too. False where the text could
// not be written. C-style variadic, so that the compiler checks each format
// against its arguments as it checks printf's.
bool say(const char* format, ...) BYTEMEND_PRINTF;
bool say_error(const char* format, ...) BYTEMEND_PRINTF;

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
