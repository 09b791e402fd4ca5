#include "runtime/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr int kMaxInt = std::numeric_limits<int>::max(), kMinInt = std::numeric_limits<int>::min();

TEST(ToText, NumbersBooleansBytes) {
    const std::pair<double, const char*> doubles[] = {
        // clang-format off
        {0.1, "0.1"}, {1e20, "1e+20"}, {1.0 / 3, "0.3333333333333"}, {100.0, "100"}, {-2.5, "-2.5"},
        {0.0, "0"}, {1e-5, "1e-05"}, {123456789012345.0, "1.234567890123e+14"},
        {1234567890123.0, "1234567890123"}, {0.30000000000000004, "0.3"},
        // clang-format on
    };
    for (const auto& [value, expected] : doubles)
        EXPECT_EQ(to_text(value), expected);
    const std::pair<float, const char*> floats[] = {
        {0.1f, "0.1"}, {3.14159265f, "3.14159"}, {1234567.0f, "1.23457e+06"}, {1e-10f, "1e-10"}};
    for (const auto& [value, expected] : floats)
        EXPECT_EQ(to_text(value), expected);
    EXPECT_EQ(to_text(std::uint8_t{255}), "255");
    EXPECT_EQ(to_text(std::int16_t{-32768}), "-32768");
    EXPECT_EQ(to_text(std::numeric_limits<long long>::min()), "-9223372036854775808");
    EXPECT_EQ(to_text(true), "\xD5\xE6");   // 真
    EXPECT_EQ(to_text(false), "\xBC\xD9");  // 假
    EXPECT_EQ(to_text(Bytes{'a', 0xB0, 0, 'c'}), "a\xB0");
    EXPECT_EQ(to_text(Bytes{'a', 'b'}), "ab");
    EXPECT_EQ(to_text(static_cast<const char*>(nullptr)), "");
}

TEST(ToText, DateTimeDropsTrailingZeroParts) {
    const Text date =
        "2024\xC4\xEA"
        "1\xD4\xC2"
        "2\xC8\xD5";                                            // 2024年1月2日
    const Text h = "\xCA\xB1", m = "\xB7\xD6", s = "\xC3\xEB";  // 时 分 秒
    const std::pair<DateTime, Text> cases[] = {
        // clang-format off
        {{2024, 1, 2, 3, 4, 5}, date + "3" + h + "4" + m + "5" + s}, {{2024, 1, 2, 3, 4, 0}, date + "3" + h + "4" + m},
        {{2024, 1, 2, 3, 0, 0}, date + "3" + h}, {{2024, 1, 2, 0, 0, 0}, date},
        {{2024, 1, 2, 0, 0, 5}, date + "0" + h + "0" + m + "5" + s}, {{2024, 1, 2, 0, 7, 0}, date + "0" + h + "7" + m},
        // clang-format on
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(to_text(value), expected);
}

TEST(ToInt, ReadsLeadingIntegerAndTruncates) {
    const std::pair<const char*, int> texts[] = {
        // clang-format off
        {" 12abc", 12}, {"-3.5e2x", -3}, {"abc", 0}, {"+7", 7}, {"\t\r\n 42", 42}, {"- 5", 0},
        {"", 0}, {"0x1A", 0}, {"2147483647", kMaxInt}, {"-2147483648", kMinInt},
        {"99999999999999999999999", kMaxInt}, {"-99999999999", kMinInt},
        // clang-format on
    };
    for (const auto& [text, expected] : texts)
        EXPECT_EQ(to_int(text), expected) << text;
    EXPECT_EQ(to_int(Bytes{'4', '2', 0, '1'}), 42);
    const std::pair<double, int> numbers[] = {
        {3.9, 3}, {-3.9, -3}, {std::nan(""), 0}, {1e300, kMaxInt}, {-1e300, kMinInt}};
    for (const auto& [value, expected] : numbers)
        EXPECT_EQ(to_int(value), expected) << value;
    EXPECT_EQ(to_int(true), 1);
    EXPECT_EQ(to_int(1LL << 40), kMaxInt);
}

TEST(ToNumber, ReadsLeadingDecimal) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<const char*, double> cases[] = {
        // clang-format off
        {" 12abc", 12}, {"-3.5e2x", -350}, {"abc", 0}, {"+7", 7}, {".5", 0.5}, {"5.", 5}, {"1e", 1},
        {"1e+", 1}, {"2E-2", 0.02}, {"0x10", 0}, {"inf", 0}, {"nan", 0}, {"-", 0}, {".", 0},
        {"-.e5", 0}, {"1,5", 1}, {"12.34.56", 12.34}, {"  -0.25", -0.25}, {"1e400", inf},
        {"-1e400", -inf}, {"1e-400", 0}, {"1e99999999999999999999", inf}, {"0.000e99999999", 0},
        // clang-format on
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(to_number(text), expected) << text;
    EXPECT_EQ(to_number(Bytes{'4', '.', '5', 0, '1'}), 4.5);
}

TEST(ToBytes, LittleEndianInOwnWidth) {
    const std::pair<Bytes, Bytes> cases[] = {
        // clang-format off
        {to_bytes(std::uint8_t{0xAB}), {0xAB}}, {to_bytes(std::int16_t{-2}), {0xFE, 0xFF}},
        {to_bytes(0x01020304), {4, 3, 2, 1}}, {to_bytes(1LL), {1, 0, 0, 0, 0, 0, 0, 0}},
        {to_bytes(1.0f), {0, 0, 0x80, 0x3F}}, {to_bytes(1.0), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {to_bytes(true), {1, 0, 0, 0}}, {to_bytes("a\xB0"), {'a', 0xB0}},
        // Date-times count days from 1899-12-30, the time of day being the fraction.
        {to_bytes(DateTime{1899, 12, 30, 0, 0, 0}), to_bytes(0.0)},
        {to_bytes(DateTime{1900, 1, 1, 12, 0, 0}), to_bytes(2.5)},
        {to_bytes(DateTime{2000, 1, 1, 6, 0, 0}), to_bytes(36526.25)},
        {to_bytes(DateTime{1899, 12, 29, 6, 0, 0}), to_bytes(-1.25)},
        // clang-format on
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
}

}  // namespace
