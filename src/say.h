#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace bytemend {

// Prints the report or a message to standard output as printf does, names
// as typed on a Windows console too; false where it could not be written.
// C-style variadic, so that the compiler checks each format as printf's, in
// the archetype the build names (MinGW's C++ library formats as C99 says).
bool say(const char* format, ...) __attribute__((format(BYTEMEND_PRINTF_ARCHETYPE, 1, 2)));

// Why a line that say() printed was lost, the first time one was; no error
// where every line so far was delivered.
std::error_code lost_line();

// One line to standard error, for what standard output cannot take.
bool say_error(const std::string& line);

// The text as typed, but each character a terminal may act on as an
// escape: the C0 controls and DEL (\n, \t, \r, \x01), the C1 controls in
// UTF-8 or as bytes (\u009b, \x9b), the line and paragraph separators and
// the right-to-left marks (\u2028, \u202e), so that a name echoed in a
// message never prints a line of its own, such as "Done", nor moves the
// cursor. Other text, names outside ASCII among it, is left as typed.
std::string shown(std::string_view text);

// A name for say_why: shown(), in single quotes, so that '' is empty.
std::string quoted(std::string_view name);

// The reason for a failure whose line on standard output has no room for
// one: a line on standard error, as the standard tools word theirs
// ("bytemend: cannot open 'in.bin' for reading: Permission denied").
bool say_why(const std::string& doing, const std::error_code& error);

// "Failed to <what> <name>: <reason>.", for a step of the copy or of
// keeping the output that failed. False.
bool say_failed(const char* what, const char* path, const std::error_code& error);

}  // namespace bytemend
