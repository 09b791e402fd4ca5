#pragma once
// Text and byte-array primitives. Text is GBK bytes; positions are 1-based, -1 means "none".
// A byte of 0x80 or more is the lead byte of a two-byte character.
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Text = std::string;                 // GBK bytes, no NUL inside
using Bytes = std::vector<std::uint8_t>;  // counted bytes, may hold NUL

inline constexpr bool is_lead_byte(unsigned char c) {
    return c >= 0x80;
}

int text_length(std::string_view text);
Text text_left(std::string_view text, long long n);
Text text_right(std::string_view text, long long n);
Text text_mid(std::string_view text, long long start, long long n);
int text_find(std::string_view text, std::string_view sought, long long start = 1,
              bool ignore_case = false);
int text_find_last(std::string_view text, std::string_view sought,
                   std::optional<long long> start = std::nullopt, bool ignore_case = false);
bool text_begins_with(std::string_view text, std::string_view prefix);
// count < 0 means all occurrences.
Text text_replace(std::string_view text, std::string_view sought, std::string_view replacement = {},
                  long long start = 1, long long count = -1, bool case_sensitive = false);
std::vector<Text> text_split(std::string_view text, std::string_view delimiter = ",",
                             long long max_parts = LLONG_MAX);
Text text_upper(std::string_view text);
Text text_lower(std::string_view text);
Text text_trim_left(std::string_view text);
Text text_trim_right(std::string_view text);
Text text_trim(std::string_view text);
Text text_strip_spaces(std::string_view text);
Text text_spaces(long long n);
Text text_char(int code);

int bytes_length(const Bytes& bytes);
Bytes bytes_left(const Bytes& bytes, long long n);
int bytes_find(const Bytes& bytes, const Bytes& sought, long long start = 1);
Bytes bytes_replace(const Bytes& bytes, const Bytes& sought, const Bytes& replacement = {},
                    long long start = 1, long long count = -1);
Bytes bytes_zero(long long n);
