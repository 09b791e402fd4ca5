#pragma once
// The one crossing between GBK Text and the widgets' QString.
#include <QString>
#include <string_view>

#include "runtime/text.h"

QString to_qstring(std::string_view gbk);
Text to_gbk(const QString& text);
