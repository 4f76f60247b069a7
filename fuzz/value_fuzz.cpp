// Differential fuzzing of the value reader against strtoll in base 16, held
// to the signed 32-bit range as a 32-bit strtol holds its result.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const long long wide = std::strtoll(text.c_str(), nullptr, 16);
    const auto expected = static_cast<std::int32_t>(std::clamp<long long>(wide, INT32_MIN, INT32_MAX));
    if (bytemend::parse_value(text.c_str()) != expected) {
        std::abort();
    }
    return 0;
}
