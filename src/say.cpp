#include "say.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "console.h"

namespace bytemend {

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
    return length >= 0 && put_text(stdout, text);
}

bool say_error(const std::string& line) {
    return put_text(stderr, line + "\n");
}

std::string shown(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    constexpr std::string_view digits = "0123456789abcdef";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const char* named = c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
        if (byte >= 0x20 && byte != 0x7f) {
            escaped += c;
        } else if (named != nullptr) {
            escaped += named;
        } else {
            escaped.append("\\x").append(1, digits[byte >> 4]).append(1, digits[byte & 0xf]);
        }
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
