#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace bytemend {

// Prints to standard output as printf does; false where it was lost. C
// variadic, for the compiler to check each format, in the archetype the
// build names (MinGW's C++ library formats as C99 says).
bool say(const char* format, ...) __attribute__((format(BYTEMEND_PRINTF_ARCHETYPE, 1, 2)));

// Why a line that say() printed was lost, the first time one was.
std::error_code lost_line();

// One line to standard error, for what standard output cannot take.
bool say_error(const std::string& line);

// The text as typed, but each character a terminal may act on escaped
// (\n, \x01, \u009b, \x9b, \u2028, \u202e), so that a name echoed in a
// message never prints a line of its own, such as "Done", nor moves the
// cursor.
std::string shown(std::string_view text);

// shown(), in single quotes, so that '' is empty.
std::string quoted(std::string_view name);

// A failure's reason, on standard error, as the standard tools word theirs
// ("bytemend: cannot open 'in.bin' for reading: Permission denied").
bool say_why(const std::string& doing, const std::error_code& error);

// "Failed to <what> <name>: <reason>."; false.
bool say_failed(const char* what, const char* path, const std::error_code& error);

}  // namespace bytemend
