// Differential fuzzing of the location reader against the C library's own
// "%lld" scan. Where the number fits in 64 bits the two must agree on it;
// where there is no number, or one too large, the reader must refuse.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "numbers.h"

namespace {

enum class Kind { none, fits, too_large };

// Classifies the text by hand, independently of strtoll: blanks, a sign, and
// the run of decimal digits that follows.
Kind classify(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    if (!std::isdigit(*p)) {
        return Kind::none;
    }
    while (*p == '0') {
        ++p;
    }
    // The limits' digits, without the sign.
    const std::string limit = negative ? "9223372036854775808" : "9223372036854775807";
    std::string digits;
    while (std::isdigit(*p)) {
        digits += static_cast<char>(*p++);
        if (digits.size() > limit.size()) {
            return Kind::too_large;
        }
    }
    const bool fits = digits.size() < limit.size() || digits <= limit;
    return fits ? Kind::fits : Kind::too_large;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int64_t> ours = bytemend::parse_location(text.c_str());
    switch (classify(text.c_str())) {
    case Kind::none:
    case Kind::too_large:
        if (ours) {
            std::abort();
        }
        break;
    case Kind::fits: {
        long long scanned = 0;
        if (std::sscanf(text.c_str(), "%lld", &scanned) != 1 || !ours || *ours != scanned) {
            std::abort();
        }
        break;
    }
    }
    return 0;
}
