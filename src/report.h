#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>

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

// The text as typed, but with each control character (C0 and DEL) written
// as an escape (\n, \t, \r, \x01): a name or a number echoed in a message
// can then never print a line of its own, such as "Done". Text without
// control characters is shown exactly as typed.
std::string shown(std::string_view text);

// The system's reason for a failure whose line on standard output is kept
// word for word and has no room for it: one more line, on standard error,
// as the standard tools word theirs ("bytemend: cannot open 'in.bin' for
// reading: Permission denied"). `doing` names what failed, with the name
// as quoted() gives it.
bool say_why(const std::string& doing, int error);

// A name for say_why: in single quotes, as shown(), so that an empty name
// reads as ''.
std::string quoted(std::string_view name);

// Refuses `path` as standard output's file, where the report would be
// written into the data: the one line, on standard error, the only place
// left. `doing` is "read" for the input, "write" for the output. False.
bool refuse_standard_output(const char* doing, const char* path);

// Whether standard output is the file that `id` stands for, so that the
// report would be written into the data. A terminal or the null device keeps
// nothing for it to spoil, and never counts.
bool is_standard_output(const std::optional<FileId>& id);

// The same for an open file, which also counts where standard output and
// the file share bytes through a loop device: one on the other, or both on
// overlapping stretches of one file.
bool is_standard_output(int fd, const struct stat& status, const std::optional<FileId>& id);

// Refuses a run whose input or output is standard output's file (">out.bin",
// ">>out.bin", "1<>in.bin"), judged by what the names reach before either is
// opened, so that not a word is printed into it: the one line that says why
// goes to standard error, the only place left.
bool report_has_a_place(const char* input_path, const char* output_path);

}  // namespace bytemend
