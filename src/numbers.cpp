#include "numbers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace bytemend {

namespace {

const char* past_blanks(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    return text;
}

// Where the digits of a number start: after its blanks and its sign.
const char* past_sign(const char* text) {
    text = past_blanks(text);
    return *text == '+' || *text == '-' ? text + 1 : text;
}

// strtoll in `base`, when it reads a number that fits and nothing but blanks
// follows it.
std::optional<std::int64_t> whole_number(const char* text, int base) {
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &end, base);
    if (end == text || errno == ERANGE || *past_blanks(end) != '\0') {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::optional<std::int64_t> parse_location(const char* text) {
    // strtoll would also take a hexadecimal or octal prefix in base 0, but
    // not in base 10: "0x10" stops after its "0", and is refused here.
    return whole_number(text, 10);
}

std::optional<HexLocation> hex_location(const char* text) {
    const char* p = past_sign(text);
    const bool prefixed = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
                          std::isxdigit(static_cast<unsigned char>(p[2]));
    if (!prefixed) {
        bool digit = false;
        bool letter = false;
        for (; std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
            (std::isdigit(static_cast<unsigned char>(*p)) ? digit : letter) = true;
        }
        if (!digit || !letter) {
            return std::nullopt;
        }
    }
    const auto number = whole_number(text, 16);
    return number ? std::optional<HexLocation>({*number, prefixed}) : std::nullopt;
}

std::optional<Value> parse_value(const char* text) {
    // Whether a digit starts it is seen here rather than from strtoll's end:
    // C runtimes differ over "0x" with no digit after it, which strtol reads
    // as 0 and a script writes for "0x$UNSET".
    const char* digits = past_sign(text);
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*digits))) {
        return std::nullopt;
    }
    // long long is at least 64 bits wide, and it saturates at its own limits,
    // so clamping its result gives exactly what a 32-bit strtol returns.
    char* end = nullptr;
    const long long typed = std::strtoll(text, &end, 16);
    if (*past_blanks(end) != '\0') {
        return std::nullopt;
    }
    const auto number = static_cast<std::int32_t>(std::clamp<long long>(typed, INT32_MIN, INT32_MAX));
    return Value{number, number != typed};
}

}  // namespace bytemend
