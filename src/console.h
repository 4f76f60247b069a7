#pragma once

#include <cstdio>
#include <string_view>

// How the command's text reaches the person who runs it: each system's
// source file gives it, as Windows' console has ways of its own.

namespace bytemend {

// Writes text to standard output or error: a Windows console through the
// wide calls, so that names show as typed whatever its code page; anything
// else gets the bytes. False where it could not be written.
bool put_text(std::FILE* stream, std::string_view text);

}  // namespace bytemend
