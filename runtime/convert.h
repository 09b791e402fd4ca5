#pragma once
// Conversions between values, text and bytes.
#include <cstdint>
#include <string_view>

#include "runtime/text.h"

struct DateTime {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

Text to_text(std::string_view text);
Text to_text(const char* text);
Text to_text(const Bytes& bytes);  // bytes up to the first NUL
Text to_text(std::uint8_t value);
Text to_text(std::int16_t value);
Text to_text(int value);
Text to_text(long value);
Text to_text(long long value);
Text to_text(unsigned value);
Text to_text(unsigned long value);
Text to_text(unsigned long long value);
Text to_text(float value);   // "%.6g"
Text to_text(double value);  // "%.13g"
Text to_text(bool value);    // "真" / "假" in GBK
Text to_text(const DateTime& value);

int to_int(std::string_view text);
int to_int(const char* text);
int to_int(const Bytes& bytes);
int to_int(double value);
int to_int(float value);
int to_int(bool value);
int to_int(int value);
int to_int(long long value);

double to_number(std::string_view text);
double to_number(const char* text);
double to_number(const Bytes& bytes);
double to_number(double value);
double to_number(long long value);
double to_number(int value);
double to_number(bool value);

Bytes to_bytes(std::string_view text);
Bytes to_bytes(const char* text);
Bytes to_bytes(const Bytes& bytes);
Bytes to_bytes(std::uint8_t value);
Bytes to_bytes(std::int16_t value);
Bytes to_bytes(int value);
Bytes to_bytes(long long value);
Bytes to_bytes(float value);
Bytes to_bytes(double value);
Bytes to_bytes(bool value);
Bytes to_bytes(const DateTime& value);
