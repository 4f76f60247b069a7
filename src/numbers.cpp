#include "numbers.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace bytemend {

namespace {

// isspace's blanks in the C locale, which the command never leaves.
const char* past_blanks(const char* text) {
    return text + std::strspn(text, " \t\n\v\f\r");
}

const char* past_sign(const char* text) {
    text = past_blanks(text);
    return *text == '+' || *text == '-' ? text + 1 : text;
}

// strtoll in `base`, where the number fits and only blanks follow it.
std::optional<std::int64_t> whole_number(const char* text, int base) {
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &end, base);
    return end == text || errno == ERANGE || *past_blanks(end) != '\0' ? std::nullopt
                                                                      : std::optional<std::int64_t>(number);
}

}  // namespace

std::optional<std::int64_t> parse_location(const char* text) {
    // Base 10, where base 0 would take "0x10" for 16.
    return whole_number(text, 10);
}

std::optional<HexLocation> hex_location(const char* text) {
    const char* p = past_sign(text);
    const bool prefixed = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
                          std::isxdigit(static_cast<unsigned char>(p[2]));
    constexpr const char* decimal = "0123456789";
    const std::string_view digits(p, std::strspn(p, "0123456789abcdefABCDEF"));
    const bool mixed = digits.find_first_of(decimal) != std::string_view::npos &&
                       digits.find_first_not_of(decimal) != std::string_view::npos;
    const auto number = prefixed || mixed ? whole_number(text, 16) : std::nullopt;
    return number ? std::optional<HexLocation>({*number, prefixed}) : std::nullopt;
}

std::optional<Value> parse_value(const char* text) {
    // A digit must follow, seen here, not from strtoll's end: C runtimes
    // differ over a bare "0x", which a script writes for "0x$UNSET".
    const char* digits = past_sign(text);
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*digits))) {
        return std::nullopt;
    }
    // long long, 64 bits or more, saturates at its own limits: clamped, it
    // is exactly what a 32-bit strtol returns.
    char* end = nullptr;
    const long long typed = std::strtoll(text, &end, 16);
    if (*past_blanks(end) != '\0') {
        return std::nullopt;
    }
    const auto number = static_cast<std::int32_t>(std::clamp<long long>(typed, INT32_MIN, INT32_MAX));
    return Value{number, number != typed};
}

}  // namespace bytemend
