#pragma once

#include <cstdio>
#include <string_view>

namespace bytemend {

// Writes text to standard output or error, in each system's source file: a
// Windows console through the wide calls, so that names show as typed
// whatever its code page; anything else gets the bytes. False where lost.
bool put_text(std::FILE* stream, std::string_view text);

}  // namespace bytemend
