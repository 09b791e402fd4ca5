#pragma once
// Decoding of the escaped texts the search pages embed in their JSON (item addresses written with
// \u003d, \u0026, \/ and %XX). The text is read the way the script engine reads the body of a
// single-quoted string literal, and the engine's unescape() is applied to the value; line breaks
// and apostrophes are carried around the literal as "{$}" and the GBK quotation mark.
#include <optional>
#include <string>
#include <string_view>

#include "runtime/text.h"

// GBK in, GBK out. A text that is not a valid literal body (a bare line break, a trailing lone
// backslash) gives the empty text.
Text unescape_text(std::string_view gbk);

// The same decoding without the pure-ASCII shortcut, always through UTF-16.
Text unescape_text_general(std::string_view gbk);

// The value of a single-quoted literal body; nullopt when the body is not valid.
std::optional<std::u16string> decode_string_literal(std::u16string_view body);

// unescape(): "%uXXXX" and "%XX" (hex digits of either case) become that code unit; any other
// "%" is kept.
std::u16string script_unescape(std::u16string_view text);
