#pragma once

#include <optional>
#include <string>
#include <string_view>

// Windows names are UTF-16 that need not be valid (NTFS takes a lone
// surrogate): WTF-8 gives every one back exactly, where UTF-8 gives U+FFFD.
namespace bytemend {

std::string wtf8_from_wide(std::wstring_view wide);

// Nothing for bytes that are not WTF-8, or that write a surrogate pair as two
// halves, which would give a second spelling of one name.
std::optional<std::wstring> wide_from_wtf8(std::string_view text);

}  // namespace bytemend
