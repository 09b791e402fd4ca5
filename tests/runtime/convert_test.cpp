#include "runtime/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(ToText, Numbers) {
    const std::pair<double, const char*> doubles[] = {
        {0.1, "0.1"},
        {1e20, "1e+20"},
        {1.0 / 3, "0.3333333333333"},
        {100.0, "100"},
        {-2.5, "-2.5"},
        {0.0, "0"},
        {1e-5, "1e-05"},
        {123456789012345.0, "1.234567890123e+14"},
        {1234567890123.0, "1234567890123"},
        {0.30000000000000004, "0.3"},
    };
    for (const auto& [value, expected] : doubles)
        EXPECT_EQ(to_text(value), expected);
    const std::pair<float, const char*> floats[] = {
        {0.1f, "0.1"},         {3.14159265f, "3.14159"}, {1234567.0f, "1.23457e+06"},
        {123456.0f, "123456"}, {-0.5f, "-0.5"},          {1e-10f, "1e-10"},
    };
    for (const auto& [value, expected] : floats)
        EXPECT_EQ(to_text(value), expected);

    EXPECT_EQ(to_text(std::uint8_t{255}), "255");
    EXPECT_EQ(to_text(std::int16_t{-32768}), "-32768");
    EXPECT_EQ(to_text(-5), "-5");
    EXPECT_EQ(to_text(std::numeric_limits<long long>::min()), "-9223372036854775808");
    EXPECT_EQ(to_text(4294967295u), "4294967295");
}

TEST(ToText, BooleansAndTexts) {
    EXPECT_EQ(to_text(true), "\xD5\xE6");   // 真
    EXPECT_EQ(to_text(false), "\xBC\xD9");  // 假
    EXPECT_EQ(to_text(Bytes{'a', 'b', 0, 'c'}), "ab");
    EXPECT_EQ(to_text(Bytes{'a', 0xB0, 'c'}),
              "a\xB0"
              "c");
    EXPECT_EQ(to_text(Bytes{}), "");
    EXPECT_EQ(to_text(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(to_text(Text("xy")), "xy");
}

TEST(ToText, DateTimeDropsTrailingZeroParts) {
    const Text date =
        "2024\xC4\xEA"
        "1\xD4\xC2"
        "2\xC8\xD5";                                                         // 2024年1月2日
    const Text hour = "\xCA\xB1", minute = "\xB7\xD6", second = "\xC3\xEB";  // 时 分 秒
    struct Case {
        DateTime value;
        Text expected;
    } cases[] = {
        {{2024, 1, 2, 3, 4, 5}, date + "3" + hour + "4" + minute + "5" + second},
        {{2024, 1, 2, 3, 4, 0}, date + "3" + hour + "4" + minute},
        {{2024, 1, 2, 3, 0, 0}, date + "3" + hour},
        {{2024, 1, 2, 0, 0, 0}, date},
        {{2024, 1, 2, 0, 0, 5}, date + "0" + hour + "0" + minute + "5" + second},
        {{2024, 1, 2, 0, 7, 0}, date + "0" + hour + "7" + minute},
        {{2024, 1, 2, 23, 0, 9}, date + "23" + hour + "0" + minute + "9" + second},
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_text(c.value), c.expected);
}

TEST(ToInt, ReadsLeadingInteger) {
    const std::pair<const char*, int> cases[] = {
        {" 12abc", 12},
        {"-3.5e2x", -3},
        {"abc", 0},
        {"+7", 7},
        {"\t\r\n 42", 42},
        {"- 5", 0},
        {"", 0},
        {"0x1A", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<int>::min()},
        {"99999999999999999999999", std::numeric_limits<int>::max()},
        {"-99999999999", std::numeric_limits<int>::min()},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(to_int(text), expected) << text;
    EXPECT_EQ(to_int(Bytes{'4', '2', 0, '1'}), 42);
    EXPECT_EQ(to_int(static_cast<const char*>(nullptr)), 0);

    const std::pair<double, int> numbers[] = {
        {3.9, 3},
        {-3.9, -3},
        {0.0, 0},
        {std::nan(""), 0},
        {1e300, std::numeric_limits<int>::max()},
        {-1e300, std::numeric_limits<int>::min()},
    };
    for (const auto& [value, expected] : numbers)
        EXPECT_EQ(to_int(value), expected) << value;
    EXPECT_EQ(to_int(2.7f), 2);
    EXPECT_EQ(to_int(true), 1);
    EXPECT_EQ(to_int(false), 0);
    EXPECT_EQ(to_int(1LL << 40), std::numeric_limits<int>::max());
}

TEST(ToNumber, ReadsLeadingDecimal) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<const char*, double> cases[] = {
        {" 12abc", 12},
        {"-3.5e2x", -350},
        {"abc", 0},
        {"+7", 7},
        {".5", 0.5},
        {"5.", 5},
        {"1e", 1},
        {"1e+", 1},
        {"2E-2", 0.02},
        {"1.5E3", 1500},
        {"0x10", 0},
        {"inf", 0},
        {"nan", 0},
        {"-", 0},
        {".", 0},
        {"-.e5", 0},
        {"1,5", 1},
        {"12.34.56", 12.34},
        {"  -0.25", -0.25},
        {"0.1", 0.1},
        {"1e400", inf},
        {"-1e400", -inf},
        {"1e-400", 0},
        {"1e99999999999999999999", inf},
        {"0.000e99999999", 0},
        {"", 0},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(to_number(text), expected) << text;
    EXPECT_EQ(to_number(Bytes{'4', '.', '5', 0, '1'}), 4.5);
    EXPECT_EQ(to_number(static_cast<const char*>(nullptr)), 0.0);
    EXPECT_EQ(to_number(3), 3.0);
    EXPECT_EQ(to_number(true), 1.0);
}

TEST(ToBytes, LittleEndianInOwnWidth) {
    struct Case {
        Bytes actual, expected;
    } cases[] = {
        {to_bytes(std::uint8_t{0xAB}), {0xAB}},
        {to_bytes(std::int16_t{-2}), {0xFE, 0xFF}},
        {to_bytes(0x01020304), {0x04, 0x03, 0x02, 0x01}},
        {to_bytes(-1), {0xFF, 0xFF, 0xFF, 0xFF}},
        {to_bytes(1LL), {1, 0, 0, 0, 0, 0, 0, 0}},
        {to_bytes(1.0f), {0x00, 0x00, 0x80, 0x3F}},
        {to_bytes(1.0), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {to_bytes(true), {1, 0, 0, 0}},
        {to_bytes(false), {0, 0, 0, 0}},
        {to_bytes("a\xB0"), {'a', 0xB0}},
        {to_bytes(Bytes{0, 1}), {0, 1}},
        // Date-times are day counts from 1899-12-30 with the time of day as the fraction.
        {to_bytes(DateTime{1899, 12, 30, 0, 0, 0}), to_bytes(0.0)},
        {to_bytes(DateTime{1900, 1, 1, 12, 0, 0}), to_bytes(2.5)},
        {to_bytes(DateTime{2000, 1, 1, 6, 0, 0}), to_bytes(36526.25)},
        {to_bytes(DateTime{1899, 12, 29, 6, 0, 0}), to_bytes(-1.25)},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].actual, cases[i].expected) << "case " << i;
}

}  // namespace
