#include "app/file_dialog.h"

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include "runtime/gbk.h"

namespace {

QString from_utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

FileDialog::FileDialog(QWidget* parent) : parent_(parent), filter_(utf8_to_gbk("TXT文件|*.txt")) {}

std::string qt_name_filter(const Text& filter) {
    const std::string utf8 = gbk_to_utf8(filter);
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t bar = utf8.find('|', start);
        parts.push_back(
            utf8.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    std::string result;
    for (size_t i = 0; i < parts.size(); i += 2) {
        if (parts[i].empty() && i + 1 >= parts.size()) break;
        std::string patterns = i + 1 < parts.size() ? parts[i + 1] : std::string("*");
        for (char& c : patterns)
            if (c == ';') c = ' ';
        if (!result.empty()) result += ";;";
        // "文本文件(*.txt)" already shows its patterns; Qt reads them from the last parentheses.
        const std::string shown = "(" + patterns + ")";
        const bool has_patterns =
            parts[i].size() >= shown.size() &&
            parts[i].compare(parts[i].size() - shown.size(), shown.size(), shown) == 0;
        result += has_patterns ? parts[i] : parts[i] + " " + shown;
    }
    return result;
}

bool FileDialog::show() {
    std::optional<std::filesystem::path> chosen;
    if (answerer_) {
        chosen = answerer_(*this);
    } else {
        QFileDialog dialog(parent_);
        if (mode_ == Mode::Save) {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(QFileDialog::ExistingFile);
        }
        dialog.setDefaultSuffix(from_utf8(gbk_to_utf8(default_extension_)));
        const std::string filters = qt_name_filter(filter_);
        if (!filters.empty()) dialog.setNameFilters(from_utf8(filters).split(QStringLiteral(";;")));
        // A bare name gets the extension of the file type chosen, not always the first one.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& filter) {
                             const qsizetype dot = filter.lastIndexOf(QStringLiteral("*."));
                             const qsizetype end = filter.indexOf(QLatin1Char(')'), dot);
                             if (dot >= 0 && end > dot)
                                 dialog.setDefaultSuffix(filter.mid(dot + 2, end - dot - 2));
                         });
        if (!path_.empty()) dialog.selectFile(QString::fromStdU16String(path_.u16string()));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = std::filesystem::path(dialog.selectedFiles().constFirst().toStdU16String());
    }
    if (!chosen || chosen->empty()) return false;
    // What a platform save dialog does when the user types a bare name.
    if (mode_ == Mode::Save && !chosen->has_extension() && !default_extension_.empty())
        *chosen += "." + gbk_to_utf8(default_extension_);
    path_ = *chosen;
    return true;
}
