#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// How the command's text reaches the person who runs it, and the words it
// has for a failed call: both differ on Windows, whose console and error
// messages have ways of their own. Each system's source file gives both.

namespace bytemend {

// Writes text to standard output or error: a Windows console gets it
// through the wide calls, so that names show as typed whatever its code
// page; anything else gets the bytes. False where it could not be written.
bool put_text(std::FILE* stream, std::string_view text);

// The words for `error`, the errno of a call that just failed: Windows' own
// where a Windows call failed, else the C library's.
std::string error_text(int error);

}  // namespace bytemend
