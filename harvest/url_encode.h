#pragma once
// Percent-encoding of GBK text for a query value, the form the search service expects.
#include <string_view>

#include "runtime/text.h"

// Letters, digits, "-", "." and "_" are copied, a space becomes "+", every other byte (each byte
// of a two-byte character too) becomes "%XX" with upper-case hex digits.
Text url_encode(std::string_view gbk);
