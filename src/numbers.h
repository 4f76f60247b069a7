#pragma once

#include <cstdint>
#include <optional>

namespace bytemend {

// A byte offset: blanks, an optional sign and decimal digits, then only
// blanks (a script's "7 " or "7\r" is 7). Nothing for text that would name
// another byte ("0x1000", "1F00", "1,024", "12abc"), nor past 64 bits.
std::optional<std::int64_t> parse_location(const char* text);

// The number of a location typed in hexadecimal, for the message that
// refuses it: prefixed ("0x1000", "-0X10"), or with both a decimal digit
// and a letter ("1F00"). Nothing for "10", decimal, nor "abc", a word.
struct HexLocation {
    std::int64_t number = 0;
    bool prefixed = false;  // typed with 0x
    bool operator==(const HexLocation&) const = default;
};
std::optional<HexLocation> hex_location(const char* text);

// The value as strtol base 16 reads it where long is 32 bits, saturating at
// INT32_MAX or INT32_MIN. Nothing where no digit follows the sign and 0x
// ("zz", "0x", ""), which strtol reads as 0, nor where more than blanks
// follows ("9o", "90 90"), which it reads up to the slip.
struct Value {
    std::int32_t number = 0;
    bool saturated = false;  // the number typed is past the 32-bit range
    bool operator==(const Value&) const = default;
};
std::optional<Value> parse_value(const char* text);

}  // namespace bytemend
