#include "say.h"

#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

#include "console.h"
#include "file_system.h"

namespace bytemend {

namespace {

std::error_code first_lost;  // why a line to standard output was first lost

// The UTF-8 sequence at the start of `text`, if any; an overlong form is
// taken for its character, as a lax terminal would take it.
struct Sequence {
    char32_t character;
    std::size_t length;
};
std::optional<Sequence> decoded(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    if ((lead >= 0x80 && lead < 0xc0) || lead >= 0xf8 || text.size() < length) {
        return std::nullopt;
    }
    char32_t character = length == 1 ? lead : lead & (0x7fU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xc0) != 0x80) {
            return std::nullopt;
        }
        character = character << 6 | (next & 0x3fU);
    }
    return Sequence{character, length};
}

// The C0 and C1 controls, DEL, the line and paragraph separators, and the
// marks that reorder a line (ALM, LRM, RLM, embeddings, overrides, isolates).
bool acted_on(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x61c || c == 0x200e || c == 0x200f ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

bool say(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): see say.h
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    va_end(arguments);
    if (length < 0 || !put_text(stdout, text)) {
        first_lost = first_lost ? first_lost : errno_error();
        return false;
    }
    return true;
}

std::error_code lost_line() {
    return first_lost;
}

bool say_error(const std::string& line) {
    return put_text(stderr, line + "\n");
}

std::string shown(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        // A byte that starts no sequence stands for itself: 0x9B, say, is a
        // control to a terminal of eight-bit characters.
        const auto sequence = decoded(text.substr(i));
        const char32_t c = sequence ? sequence->character : static_cast<unsigned char>(text[i]);
        const std::size_t length = sequence ? sequence->length : 1;
        const char* named = c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
        if (!acted_on(c)) {
            escaped.append(text.substr(i, length));
        } else if (length == 1 && named != nullptr) {
            escaped += named;
        } else {
            escaped += length == 1 ? "\\x" : "\\u";
            for (int shift = length == 1 ? 4 : 12; shift >= 0; shift -= 4) {
                escaped += "0123456789abcdef"[(c >> shift) & 0xf];
            }
        }
        i += length;
    }
    return escaped;
}

std::string quoted(std::string_view name) {
    return shown(name).insert(0, 1, '\'') + '\'';
}

bool say_why(const std::string& doing, const std::error_code& error) {
    return say_error("bytemend: cannot " + doing + ": " + error.message());
}

bool say_failed(const char* what, const char* path, const std::error_code& error) {
    say("Failed to %s %s: %s.\n", what, shown(path).c_str(), error.message().c_str());
    return false;
}

}  // namespace bytemend
