#pragma once

#include <cstdio>
#include <string_view>

namespace bytemend {

// Writes text to standard output or error: a Windows console through the
// wide calls, so that names show as typed, else the bytes. False where lost.
bool put_text(std::FILE* stream, std::string_view text);

}  // namespace bytemend
