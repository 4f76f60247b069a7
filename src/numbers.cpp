#include "numbers.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace bytemend {

std::optional<std::int64_t> parse_location(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long long location = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE) {
        return std::nullopt;
    }
    return location;
}

std::int32_t parse_value(const char* text) {
    // long long is at least 64 bits wide, and it saturates at its own limits,
    // so clamping its result gives exactly what a 32-bit strtol returns.
    const long long value = std::strtoll(text, nullptr, 16);
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace bytemend
