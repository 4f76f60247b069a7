#pragma once

#include <cstdint>
#include <optional>

namespace bytemend {

// Reads a byte offset as a "%d" scan would (leading blanks, an optional sign,
// then digits up to the first non-digit) but 64 bits wide, so any byte of a
// large image can be named. Nothing when no digit starts the text or the
// number does not fit in 64 bits.
std::optional<std::int64_t> parse_location(const char* text);

// Reads the new value as strtol base 16 does where long is 32 bits: an
// optional 0x prefix, trailing text ignored, no digits giving 0, and numbers
// beyond the range saturating at INT32_MAX or INT32_MIN.
std::int32_t parse_value(const char* text);

}  // namespace bytemend
