#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "numbers.h"

namespace {

using bytemend::hex_location;
using bytemend::parse_location;
using bytemend::parse_value;

TEST(ParseValue, ReadsHexLikeA32BitStrtolButRefusesNoDigitsAndTextAfter) {
    const auto none = std::nullopt;
    const struct {
        const char* text;
        std::optional<std::int32_t> value;
        bool saturated = false;
    } cases[] = {
        {"41", 65},           {"0x41", 65},          {"0X41", 65},       {" \t41", 65},
        {"+41", 65},          {"41 \r\n", 65},       {"1FF", 511},       {"1ff", 511},
        {"100", 256},         {"-1", -1},            {"-FF", -255},      {"zz", none},
        {"", none},           {"0x", none},          {"-", none},        {"g", none},
        {" ", none},          {"0xg", none},         {"-0X", none},      {"0x 1", none},
        {"41zz", none},       {"9o", none},          {"90,91", none},    {"90 90", none},
        {"0x41h", none},      {"0", 0},              {"0 ", 0},          {"0x0", 0},
        {"7FFFFFFF", INT32_MAX},
        {"80000000", INT32_MAX, true}, {"FFFFFFFF", INT32_MAX, true}, {"123456789ABCDEF01", INT32_MAX, true},
        {"-80000000", INT32_MIN}, {"-80000001", INT32_MIN, true}, {"-123456789ABCDEF01", INT32_MIN, true},
    };
    for (const auto& c : cases) {
        const auto expected = c.value ? std::optional(bytemend::Value{*c.value, c.saturated}) : std::nullopt;
        EXPECT_EQ(parse_value(c.text), expected) << "text '" << c.text << "'";
    }
}

TEST(ParseLocation, TakesOnlyADecimalNumberWithBlanksAround) {
    const struct {
        const char* text;
        std::optional<std::int64_t> location;
    } cases[] = {
        {"7", 7},          {"+7", 7},          {" 7", 7},          {"\t\n7", 7},
        {"7 ", 7},         {"7\r", 7},         {"7\r\n", 7},       {"-7", -7},
        {"-0", 0},         {"7th", std::nullopt}, {"0x10", std::nullopt}, {"1F00", std::nullopt},
        {"1,024", std::nullopt}, {"12abc", std::nullopt}, {"1.5", std::nullopt}, {"7 8", std::nullopt},
        {"4500000000", 4500000000},            {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},   {"", std::nullopt}, {" ", std::nullopt},
        {"abc", std::nullopt}, {"-", std::nullopt}, {"+-7", std::nullopt}, {"x7", std::nullopt},
        {"9223372036854775808", std::nullopt}, {"-9223372036854775809", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_location(c.text), c.location) << "text '" << c.text << "'";
    }
}

TEST(HexLocation, GivesTheNumberOnlyOfAHexLookingLocation) {
    using bytemend::HexLocation;
    const struct {
        const char* text;
        std::optional<HexLocation> number;
    } cases[] = {
        {"0x1000", HexLocation{4096, true}}, {" -0X10 ", HexLocation{-16, true}},
        {"0x1F00", HexLocation{7936, true}}, {"1F00", HexLocation{7936, false}},
        {"-1f ", HexLocation{-31, false}},   {"12abc", HexLocation{76476, false}},
        {"0x", std::nullopt},  {"0x10g", std::nullopt}, {"10", std::nullopt},
        {"abc", std::nullopt}, {"1F 00", std::nullopt}, {"7th", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex_location(c.text), c.number) << "text '" << c.text << "'";
    }
}

}  // namespace
