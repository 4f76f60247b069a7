#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace bytemend {

// Prints the report or a message to standard output, as printf does, and
// shows names as typed on a Windows console too. False where the text could
// not be written. C-style variadic, so that the compiler checks each format
// against its arguments as it checks printf's, in the archetype the build
// names: MinGW's C++ library formats as C99 says (gnu_printf), not as
// Windows' runtime does.
bool say(const char* format, ...) __attribute__((format(BYTEMEND_PRINTF_ARCHETYPE, 1, 2)));

// One line to standard error, for what standard output cannot take.
bool say_error(const std::string& line);

// The text as typed, but with each control character (C0 and DEL) written
// as an escape (\n, \t, \r, \x01): a name or a number echoed in a message
// can then never print a line of its own, such as "Done". Text without
// control characters is shown exactly as typed.
std::string shown(std::string_view text);

// A name for say_why: in single quotes, as shown(), so that an empty name
// reads as ''.
std::string quoted(std::string_view name);

// The system's reason for a failure whose line on standard output is kept
// word for word and has no room for it: one more line, on standard error,
// as the standard tools word theirs ("bytemend: cannot open 'in.bin' for
// reading: Permission denied"). `doing` names what failed, with the name
// as quoted() gives it.
bool say_why(const std::string& doing, const std::error_code& error);

// "Failed to <what> <name>: <reason>.", for a step of the copy or of
// keeping the output that failed. False.
bool say_failed(const char* what, const char* path, const std::error_code& error);

}  // namespace bytemend
