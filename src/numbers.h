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

// The new value as strtol base 16 reads it where long is 32 bits: an
// optional sign and 0x, saturating at INT32_MAX or INT32_MIN. Nothing where
// no hexadecimal digit follows the sign and prefix ("zz", "0x", an empty
// argument), which strtol would read as 0, nor where more than blanks
// follows the digits ("9o", "90,91", "90 90", "0x41h"), which strtol would
// read up to the slip.
struct Value {
    std::int32_t number = 0;
    bool saturated = false;  // the number typed is past the 32-bit range
    bool operator==(const Value&) const = default;
};
std::optional<Value> parse_value(const char* text);

}  // namespace bytemend
