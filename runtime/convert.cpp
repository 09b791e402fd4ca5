#include "runtime/convert.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

template <class Int>
Text integer_text(Int value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Text(buffer, result.ptr);
}

// printf's "%.Ng" without the C locale: to_chars is defined to format exactly like it.
template <class Float>
Text general_text(Float value, int precision) {
    char buffer[64];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    if (result.ec != std::errc()) return {};
    return Text(buffer, result.ptr);
}

std::string_view until_nul(const Bytes& bytes) {
    const char* data = reinterpret_cast<const char*>(bytes.data());
    const void* nul = bytes.empty() ? nullptr : std::memchr(data, 0, bytes.size());
    return std::string_view(
        data, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : bytes.size());
}

bool is_white(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Skips leading white space and reads an optional sign; returns the offset after them.
std::size_t skip_white_and_sign(std::string_view text, bool& negative) {
    std::size_t i = 0;
    while (i < text.size() && is_white(text[i]))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    return i;
}

template <class Int>
Bytes little_endian(Int value, int width) {
    Bytes out(static_cast<std::size_t>(width));
    auto bits = static_cast<unsigned long long>(value);
    for (int i = 0; i < width; ++i)
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return out;
}

int saturate(long long value) {
    if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
long long days_from_civil(long long y, long long m, long long d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The 8-byte date-time is a day count from 1899-12-30 with the time of day as the fraction; before
// that day the fraction still counts forward in time, so it is subtracted from a negative day.
double ole_date(const DateTime& value) {
    long long days =
        days_from_civil(value.year, value.month, value.day) - days_from_civil(1899, 12, 30);
    double fraction = (value.hour * 3600.0 + value.minute * 60.0 + value.second) / 86400.0;
    return days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
}

}  // namespace

Text to_text(std::string_view text) {
    return Text(text.substr(0, text.find('\0')));
}
Text to_text(const char* text) {
    return text ? Text(text) : Text();
}
Text to_text(const Bytes& bytes) {
    return Text(until_nul(bytes));
}
Text to_text(std::uint8_t value) {
    return integer_text(static_cast<unsigned>(value));
}
Text to_text(std::int16_t value) {
    return integer_text(static_cast<int>(value));
}
Text to_text(int value) {
    return integer_text(value);
}
Text to_text(long value) {
    return integer_text(value);
}
Text to_text(long long value) {
    return integer_text(value);
}
Text to_text(unsigned value) {
    return integer_text(value);
}
Text to_text(unsigned long value) {
    return integer_text(value);
}
Text to_text(unsigned long long value) {
    return integer_text(value);
}
Text to_text(float value) {
    return general_text(value, 6);
}
Text to_text(double value) {
    return general_text(value, 13);
}

Text to_text(bool value) {
    return value ? "\xD5\xE6" /* 真 */ : "\xBC\xD9" /* 假 */;
}

Text to_text(const DateTime& value) {
    Text out = to_text(value.year) + "\xC4\xEA" /* 年 */ + to_text(value.month) +
               "\xD4\xC2" /* 月 */ + to_text(value.day) + "\xC8\xD5" /* 日 */;
    const Text hour = to_text(value.hour) + "\xCA\xB1";  // 时
    if (value.second != 0) {
        out += hour + to_text(value.minute) + "\xB7\xD6" /* 分 */ + to_text(value.second) +
               "\xC3\xEB" /* 秒 */;
    } else if (value.minute != 0) {
        out += hour + to_text(value.minute) + "\xB7\xD6" /* 分 */;
    } else if (value.hour != 0) {
        out += hour;
    }
    return out;
}

int to_int(std::string_view text) {
    bool negative = false;
    std::size_t i = skip_white_and_sign(text, negative);
    long long magnitude = 0;
    // Past 2^31 the result saturates; stop accumulating so it cannot overflow.
    for (; i < text.size() && is_digit(text[i]); ++i) {
        if (magnitude <= (1LL << 32)) magnitude = magnitude * 10 + (text[i] - '0');
    }
    return saturate(negative ? -magnitude : magnitude);
}

int to_int(const char* text) {
    return text ? to_int(std::string_view(text)) : 0;
}
int to_int(const Bytes& bytes) {
    return to_int(until_nul(bytes));
}

int to_int(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(value);  // truncates toward zero
}

int to_int(float value) {
    return to_int(static_cast<double>(value));
}
int to_int(bool value) {
    return value ? 1 : 0;
}
int to_int(int value) {
    return value;
}
int to_int(long long value) {
    return saturate(value);
}

double to_number(std::string_view text) {
    bool negative = false;
    std::size_t i = skip_white_and_sign(text, negative);
    const std::size_t mantissa_start = i;
    std::size_t digits = 0;
    // Decimal exponent of the first non-zero digit, to tell overflow from underflow.
    long long lead_exponent = 0;
    bool seen_nonzero = false;
    long long integer_digits = 0;
    for (; i < text.size() && is_digit(text[i]); ++i, ++digits, ++integer_digits) {
        if (!seen_nonzero && text[i] != '0') seen_nonzero = true;
        if (seen_nonzero) ++lead_exponent;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (; i < text.size() && is_digit(text[i]); ++i, ++digits) {
            if (!seen_nonzero) {
                if (text[i] != '0')
                    seen_nonzero = true;
                else
                    --lead_exponent;
            }
        }
    }
    if (digits == 0) return 0.0;
    std::size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool exponent_negative = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            exponent_negative = text[j++] == '-';
        long long exponent = 0;
        std::size_t exponent_start = j;
        for (; j < text.size() && is_digit(text[j]); ++j) {
            if (exponent < 1000000000LL) exponent = exponent * 10 + (text[j] - '0');
        }
        if (j > exponent_start) {
            end = j;
            lead_exponent += exponent_negative ? -exponent : exponent;
        }
    }
    if (!seen_nonzero) return negative ? -0.0 : 0.0;
    double value = 0.0;
    auto result = std::from_chars(text.data() + mantissa_start, text.data() + end, value,
                                  std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = lead_exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

double to_number(const char* text) {
    return text ? to_number(std::string_view(text)) : 0.0;
}
double to_number(const Bytes& bytes) {
    return to_number(until_nul(bytes));
}
double to_number(double value) {
    return value;
}
double to_number(long long value) {
    return static_cast<double>(value);
}
double to_number(int value) {
    return value;
}
double to_number(bool value) {
    return value ? 1.0 : 0.0;
}

Bytes to_bytes(std::string_view text) {
    return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                 reinterpret_cast<const std::uint8_t*>(text.data()) + text.size());
}

Bytes to_bytes(const char* text) {
    return text ? to_bytes(std::string_view(text)) : Bytes();
}
Bytes to_bytes(const Bytes& bytes) {
    return bytes;
}
Bytes to_bytes(std::uint8_t value) {
    return little_endian(value, 1);
}
Bytes to_bytes(std::int16_t value) {
    return little_endian(value, 2);
}
Bytes to_bytes(int value) {
    return little_endian(value, 4);
}
Bytes to_bytes(long long value) {
    return little_endian(value, 8);
}

Bytes to_bytes(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return little_endian(bits, 4);
}

Bytes to_bytes(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return little_endian(bits, 8);
}

Bytes to_bytes(bool value) {
    return little_endian(value ? 1 : 0, 4);
}
Bytes to_bytes(const DateTime& value) {
    return to_bytes(ole_date(value));
}
