#include "wtf8.h"

namespace bytemend {

namespace {

bool is_lead(char32_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool is_trail(char32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

}  // namespace

std::string wtf8_from_wide(std::wstring_view wide) {
    std::string text;
    text.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (is_lead(c) && i + 1 < wide.size() && is_trail(static_cast<char16_t>(wide[i + 1]))) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[++i]) - 0xDC00);
        }
        // The lead byte's marks and top bits, then six bits a byte.
        const int more = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        text += static_cast<char>(more == 0 ? c : ((0xF0 << (3 - more)) & 0xFF) | (c >> (6 * more)));
        for (int k = more - 1; k >= 0; --k) {
            text += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
        }
    }
    return text;
}

std::optional<std::wstring> wide_from_wtf8(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    bool after_lone_lead = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto first = static_cast<unsigned char>(text[i]);
        // How many bytes follow the first (4: none may start here); longer
        // forms than a value needs, and values past U+10FFFF, are refused.
        const std::size_t more =
            first < 0x80 ? 0 : first < 0xC2 ? 4 : first < 0xE0 ? 1 : first < 0xF0 ? 2 : first < 0xF5 ? 3 : 4;
        if (more == 4) {
            return std::nullopt;
        }
        char32_t c = more == 0 ? first : first & (0x3F >> more);
        for (std::size_t k = 1; k <= more; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return std::nullopt;
            }
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if ((more == 2 && c < 0x800) || (more == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
            (after_lone_lead && is_trail(c))) {
            return std::nullopt;
        }
        after_lone_lead = is_lead(c);
        if (c < 0x10000) {
            wide += static_cast<wchar_t>(c);
        } else {
            wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        i += more + 1;
    }
    return wide;
}

}  // namespace bytemend
