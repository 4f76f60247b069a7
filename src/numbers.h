#pragma once

#include <cstdint>
#include <optional>

namespace bytemend {

// Reads a byte offset: optional blanks, an optional sign and decimal digits,
// then nothing but blanks, so that a script's "7 " or "7\r" still reads as 7.
// Nothing for any other text, such as "0x1000" or "1F00" as a hex editor
// shows offsets, "1,024" or "12abc", which would name another byte, and for
// a number that does not fit in 64 bits.
std::optional<std::int64_t> parse_location(const char* text);

// The number in a location typed in hexadecimal, for the message that
// refuses it: with its prefix ("0x1000", "-0X10"), or without one but with
// both a decimal digit and a letter among its hexadecimal digits ("1F00",
// as a hex editor shows offsets). Nothing for any other text: "10" reads
// as decimal, and "abc" is no more hexadecimal than a word.
struct HexLocation {
    std::int64_t number = 0;
    bool prefixed = false;  // typed with 0x
    bool operator==(const HexLocation&) const = default;
};
std::optional<HexLocation> hex_location(const char* text);

// Reads the new value as strtol base 16 does where long is 32 bits: an
// optional sign and 0x prefix, trailing text ignored, and numbers beyond the
// range saturating at INT32_MAX or INT32_MIN. Nothing when no hexadecimal
// digit follows the sign and prefix ("zz", "0x", or an empty argument),
// which strtol would read as 0.
std::optional<std::int32_t> parse_value(const char* text);

}  // namespace bytemend
