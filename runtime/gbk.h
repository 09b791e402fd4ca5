#pragma once
// GBK (code page 936) codec from a generated table. A character GBK cannot hold becomes "?";
// invalid input never loses the valid bytes around it (a bad byte or a lone lead byte becomes
// U+FFFD).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

Text utf8_to_gbk(std::string_view utf8);
// True when every byte is ASCII: the same text in GBK and in UTF-8.
bool all_ascii(std::string_view text);
std::string gbk_to_utf8(std::string_view gbk);
std::u16string gbk_to_utf16(std::string_view gbk);
Text utf16_to_gbk(std::u16string_view utf16);

// Where a non-ASCII character ends in the UTF-8 text and in the GBK text it came from. Between
// anchors every byte is ASCII, so the two texts advance together.
struct GbkUtf8Anchor {
    std::uint32_t utf8_end;
    std::uint32_t gbk_end;
};

// As gbk_to_utf8, and records one anchor per non-ASCII character (none for pure ASCII), so that a
// span of the UTF-8 text can be cut from the original GBK bytes exactly.
std::string gbk_to_utf8(std::string_view gbk, std::vector<GbkUtf8Anchor>* anchors);
// The same into `out`, whose memory is reused (a worker converting page after page); with
// lower_letters, ASCII capitals come out in lower case (caseless matching on a case-sensitive
// engine).
void gbk_to_utf8(std::string_view gbk, std::string& out, std::vector<GbkUtf8Anchor>* anchors,
                 bool lower_letters = false);

// The GBK offset of a UTF-8 offset that lies on a character boundary.
std::size_t gbk_offset_for_utf8(const std::vector<GbkUtf8Anchor>& anchors, std::size_t utf8_offset);
