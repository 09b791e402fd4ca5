#pragma once
// GBK (code page 936) codec over iconv. A character GBK cannot hold becomes "?"; invalid input
// never loses the valid bytes around it.
#include <string>
#include <string_view>

#include "runtime/text.h"

Text utf8_to_gbk(std::string_view utf8);
std::string gbk_to_utf8(std::string_view gbk);
std::u16string gbk_to_utf16(std::string_view gbk);
Text utf16_to_gbk(std::u16string_view utf16);
