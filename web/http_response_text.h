#pragma once
// Reading a response the way HttpRequestObject presents it: cookies picked out of the header text,
// and the body as text in the character set the server declared.
#include <string_view>

#include "runtime/text.h"

// The value of cookie name from the first "Set-Cookie: name=" (else "Set-Cookie:name=") line: the
// text up to the next ";" or the end of that line. Empty when there is none.
Text cookie_from_headers(std::string_view headers, std::string_view name);

// "a=1; b=2" from every Set-Cookie line (any case): each line's name=value pair, leading spaces
// trimmed, in order, names not merged; pairs whose value is "deleted" (in three spellings) left
// out. A pair without attributes ends at its line end.
Text cookies_from_headers(std::string_view headers);

// The body as GBK text: decoded by a byte-order mark, else by the charset of content_type (UTF-8
// when none is declared); a GBK body is taken as it is. Stops at the first NUL character.
Text decode_response_text(const Bytes& body, std::string_view content_type);

// The body decoded as UTF-8 and re-encoded as GBK; stops at the first NUL byte.
Text utf8_body_to_gbk(const Bytes& body);
