#pragma once

#include <cstdint>
#include <optional>

namespace bytemend {

// Reads a byte offset: blanks, an optional sign and decimal digits, then
// only blanks (a script's "7 " or "7\r" is 7). Nothing for other text, such
// as a hex editor's "0x1000" or "1F00", "1,024" or "12abc", which would name
// another byte, nor for a number past 64 bits.
std::optional<std::int64_t> parse_location(const char* text);

// The number in a location typed in hexadecimal, for the message that
// refuses it: with its prefix ("0x1000", "-0X10"), or with both a decimal
// digit and a letter among its digits ("1F00"). Nothing for other text:
// "10" is decimal, and "abc" no more hexadecimal than a word.
struct HexLocation {
    std::int64_t number = 0;
    bool prefixed = false;  // typed with 0x
    bool operator==(const HexLocation&) const = default;
};
std::optional<HexLocation> hex_location(const char* text);

// Reads the new value as strtol base 16 does where long is 32 bits: an
// optional sign and 0x, trailing text ignored, saturating at INT32_MAX or
// INT32_MIN. Nothing where no hexadecimal digit follows the sign and prefix
// ("zz", "0x", an empty argument), which strtol would read as 0.
std::optional<std::int32_t> parse_value(const char* text);

}  // namespace bytemend
