// Fuzzes the location reader against an oracle of its own: blanks, a sign,
// decimal digits and nothing but blanks after them, read digit by digit with
// the 64-bit limits checked by hand. Any other text must be refused.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "numbers.h"

namespace {

std::optional<std::int64_t> expected(const std::string& text) {
    std::size_t i = 0;
    const auto blank = [&] { return i < text.size() && std::isspace(static_cast<unsigned char>(text[i])); };
    const auto digit = [&] { return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); };
    while (blank()) {
        ++i;
    }
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    if (!digit()) {
        return std::nullopt;
    }
    // The magnitude, which may reach 2^63 for the most negative number.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : INT64_MAX;
    std::uint64_t magnitude = 0;
    for (; digit(); ++i) {
        const auto d = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (limit - d) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + d;
    }
    while (blank()) {
        ++i;
    }
    // A NUL ends the text the reader sees.
    if (i < text.size() && text[i] != '\0') {
        return std::nullopt;
    }
    return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (bytemend::parse_location(text.c_str()) != expected(text)) {
        std::abort();
    }
    return 0;
}
