#include "app/gbk_qstring.h"

#include "runtime/gbk.h"

QString to_qstring(std::string_view gbk) {
    if (gbk.empty()) return {};
    const std::u16string utf16 = gbk_to_utf16(gbk);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

Text to_gbk(const QString& text) {
    if (text.isEmpty()) return {};
    return utf16_to_gbk(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size()));
}
