#include "app/list_files.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/file_dialog.h"
#include "harvest/program_values.h"
#include "harvest/window.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "store/exporters.h"

namespace {

constexpr const char* kUrlList = "超级列表框2_URL";
constexpr const char* kBuyerList = "超级列表框1_user";
constexpr const char* kNameList = "超级列表框";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kFieldSeparator = "----";
constexpr size_t kBatchRows = 8192;

const Text& text_file_filter() {
    static const Text filter = utf8_to_gbk("文本文件(*.txt)|*.txt");
    return filter;
}

// Exports may also go to a spreadsheet; the text file stays the first choice.
const Text& export_filter() {
    static const Text filter =
        utf8_to_gbk("文本文件(*.txt)|*.txt|CSV (*.csv)|*.csv|Excel (*.xlsx)|*.xlsx");
    return filter;
}

// The file's text: its bytes up to the first NUL, kept as read so a large file is not copied.
struct FileText {
    Bytes bytes;
    std::string_view text() const {
        const char* data = reinterpret_cast<const char*>(bytes.data());
        const void* nul = std::memchr(data, 0, bytes.size());
        return {data,
                nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : bytes.size()};
    }
};

// Rows collected for one append; the window handles its events after each batch.
class RowBatcher {
public:
    RowBatcher(Window& window, const char* list) : window_(window), list_(list) {
        rows_.reserve(kBatchRows);
    }
    void add(std::vector<Text> cells) {
        rows_.push_back(std::move(cells));
        if (rows_.size() >= kBatchRows) flush();
    }
    void flush() {
        if (rows_.empty()) return;
        window_.append_rows(list_, rows_);
        rows_.clear();
        QCoreApplication::processEvents();
    }

private:
    Window& window_;
    const char* list_;
    std::vector<std::vector<Text>> rows_;
};

}  // namespace

void for_each_split_piece(std::string_view text, std::string_view delimiter,
                          const std::function<void(std::string_view piece)>& piece) {
    if (text.empty()) return;
    if (delimiter.empty()) {
        piece(text);
        return;
    }
    const char first = delimiter.front();
    size_t start = 0;
    size_t pos = 0;
    while (pos + delimiter.size() <= text.size()) {
        const char c = text[pos];
        if (c == first && text.compare(pos, delimiter.size(), delimiter) == 0) {
            piece(text.substr(start, pos - start));
            pos += delimiter.size();
            start = pos;
        } else {
            // A delimiter never starts on the trail byte of a two-byte character.
            pos += is_lead_byte(static_cast<unsigned char>(c)) ? 2 : 1;
        }
    }
    if (start < text.size()) piece(text.substr(start));
}

void ImportUrls(Window& window, FileDialog& dialog) {
    dialog.set_default_extension("txt");
    dialog.set_mode(FileDialog::Mode::Open);
    dialog.set_filter(text_file_filter());
    if (!dialog.show()) return;
    const FileText file{file_read_all(dialog.path())};
    RowBatcher batch(window, kUrlList);
    for_each_split_piece(file.text(), kLineEnd,
                         [&](std::string_view line) { batch.add({Text(line)}); });
    batch.flush();
}

void ClearUrls(Window& window, ProgramValues& values) {
    window.clear_rows(kUrlList);
    values.ReviewCursor.store(0);
}

bool save_list_file(FileDialog& dialog, const std::vector<Text>& lines) {
    dialog.set_mode(FileDialog::Mode::Save);
    dialog.set_default_extension("txt");
    dialog.set_filter(export_filter());
    if (!dialog.show()) return false;
    // The format follows the file type chosen, that is the name's extension.
    if (!export_lines(dialog.path(), lines, nullptr)) return false;
    static const Text done = utf8_to_gbk("导出成功");
    message_box(done);
    return true;
}

void ExportBuyerIds(Window& window, FileDialog& dialog) {
    std::vector<Text> ids;
    const int rows = window.row_count(kBuyerList);
    ids.reserve(static_cast<size_t>(std::max(rows, 0)));
    for (int row = 0; row < rows; ++row)
        ids.push_back(window.cell(kBuyerList, row, 1));
    save_list_file(dialog, ids);
}

void ImportWangwang(Window& window, FileDialog& dialog) {
    dialog.set_mode(FileDialog::Mode::Open);
    const bool confirmed = dialog.show();
    window.clear_rows(kNameList);
    if (!confirmed || dialog.path().empty()) return;
    const FileText file{file_read_all(dialog.path())};
    RowBatcher batch(window, kNameList);
    int number = 0;
    for_each_split_piece(file.text(), kLineEnd, [&](std::string_view line) {
        ++number;  // every line counts, the skipped empty ones too
        const std::vector<Text> fields = text_split(line, kFieldSeparator);
        if (fields.empty()) return;
        batch.add({to_text(number), fields.front()});
    });
    batch.flush();
}
