// Fuzzes the value reader against an oracle of its own: blanks, a sign, an
// optional 0x, then hexadecimal digits read one by one and held at the 32-bit
// limits, and only blanks after them; text where no digit follows, or with
// more than blanks after the digits, is refused.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "numbers.h"

namespace {

std::optional<bytemend::Value> expected(const char* p) {
    while (std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    // A prefix needs a digit after it: "0x" alone is no number.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
    }
    if (!std::isxdigit(static_cast<unsigned char>(*p))) {
        return std::nullopt;
    }
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : INT32_MAX;
    std::int64_t magnitude = 0;
    bool saturated = false;
    for (; std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
        const int c = std::tolower(static_cast<unsigned char>(*p));
        magnitude = magnitude * 16 + (std::isdigit(c) ? c - '0' : c - 'a' + 10);
        saturated = saturated || magnitude > limit;
        magnitude = std::min(limit, magnitude);
    }
    while (std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    if (*p != '\0') {
        return std::nullopt;
    }
    return bytemend::Value{static_cast<std::int32_t>(negative ? -magnitude : magnitude), saturated};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (bytemend::parse_value(text.c_str()) != expected(text.c_str())) {
        std::abort();
    }
    return 0;
}
