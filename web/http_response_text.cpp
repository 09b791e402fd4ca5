#include "web/http_response_text.h"

#include <string>

#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "web/http_ascii.h"

namespace {

size_t find_no_case(std::string_view text, std::string_view sought, size_t from) {
    if (sought.size() > text.size()) return std::string_view::npos;
    for (size_t i = from; i + sought.size() <= text.size(); ++i)
        if (http_equals_no_case(text.substr(i, sought.size()), sought)) return i;
    return std::string_view::npos;
}

// The value after marker, up to ";" or the end of its line; empty when marker is absent.
Text value_after(std::string_view headers, std::string_view marker) {
    const size_t at = headers.find(marker);
    if (at == std::string_view::npos) return {};
    const size_t start = at + marker.size();
    const size_t end = headers.find_first_of(";\r\n", start);
    return Text(headers.substr(start, end == std::string_view::npos ? end : end - start));
}

std::string charset_of(std::string_view content_type) {
    const size_t at = find_no_case(content_type, "charset=", 0);
    if (at == std::string_view::npos) return {};
    std::string_view value = content_type.substr(at + 8);
    value = value.substr(0, value.find(';'));
    value = http_trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
        value = value.substr(1, value.size() - 2);
    std::string lower;
    for (char c : value)
        lower += http_ascii_lower(c);
    return lower;
}

Text utf16_to_text(const Bytes& body, size_t start, bool big_endian) {
    std::u16string units;
    for (size_t i = start; i + 1 < body.size(); i += 2) {
        const char16_t unit = big_endian ? char16_t(body[i] << 8 | body[i + 1])
                                         : char16_t(body[i + 1] << 8 | body[i]);
        if (unit == 0) break;
        units += unit;
    }
    return utf16_to_gbk(units);
}

Text utf8_to_text(const Bytes& body, size_t start) {
    std::string_view bytes(reinterpret_cast<const char*>(body.data()) + start, body.size() - start);
    bytes = bytes.substr(0, bytes.find('\0'));
    return utf8_to_gbk(bytes);
}

}  // namespace

Text cookie_from_headers(std::string_view headers, std::string_view name) {
    if (headers.empty()) return {};
    Text value = value_after(headers, "Set-Cookie: " + std::string(name) + "=");
    if (!value.empty()) return value;
    return value_after(headers, "Set-Cookie:" + std::string(name) + "=");
}

Text cookies_from_headers(std::string_view headers) {
    static constexpr std::string_view marker = "Set-Cookie:";
    Text result;
    size_t pos = 0;
    while (true) {
        const size_t at = find_no_case(headers, marker, pos);
        if (at == std::string_view::npos) break;
        const size_t start = at + marker.size();
        const size_t end = headers.find_first_of(";\r\n", start);
        Text piece;
        if (end != std::string_view::npos && headers[end] == ';') {
            piece = Text(headers.substr(start, end + 1 - start));
            pos = end + 1;
        } else {
            // A cookie without attributes: the pair ends with its line.
            piece = Text(headers.substr(start, end == std::string_view::npos ? end : end - start));
            piece += ';';
            pos = end == std::string_view::npos ? headers.size() : end;
        }
        piece = text_trim_left(piece);
        if (piece == ";") continue;
        const std::string_view tail =
            piece.size() >= 9 ? std::string_view(piece).substr(piece.size() - 9) : "";
        if (tail == "=deleted;" || tail == "=DELETED;" || tail == "=Deleted;") continue;
        result += piece;
        result += ' ';
    }
    if (!result.empty()) result.resize(result.size() - 2);
    return result;
}

Text decode_response_text(const Bytes& body, std::string_view content_type) {
    if (body.size() >= 3 && body[0] == 0xEF && body[1] == 0xBB && body[2] == 0xBF)
        return utf8_to_text(body, 3);
    if (body.size() >= 2 && body[0] == 0xFF && body[1] == 0xFE)
        return utf16_to_text(body, 2, false);
    if (body.size() >= 2 && body[0] == 0xFE && body[1] == 0xFF) return utf16_to_text(body, 2, true);
    const std::string charset = charset_of(content_type);
    if (charset == "gbk" || charset == "gb2312" || charset == "gb18030" || charset == "cp936" ||
        charset == "x-gbk" || charset == "windows-936")
        return to_text(body);
    if (charset == "iso-8859-1" || charset == "latin1" || charset == "us-ascii" ||
        charset == "windows-1252") {
        std::u16string units;
        for (unsigned char c : body) {
            if (c == 0) break;
            units += char16_t(c);
        }
        return utf16_to_gbk(units);
    }
    if (charset == "utf-16" || charset == "utf-16le") return utf16_to_text(body, 0, false);
    if (charset == "utf-16be") return utf16_to_text(body, 0, true);
    return utf8_to_text(body, 0);
}

Text utf8_body_to_gbk(const Bytes& body) {
    return body.empty() ? Text() : utf8_to_text(body, 0);
}
