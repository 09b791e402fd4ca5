#include "app/list_files.h"

#include <QCoreApplication>
#include <algorithm>
#include <vector>

#include "app/file_dialog.h"
#include "harvest/exported_lists.h"
#include "harvest/program_values.h"
#include "harvest/window.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/list_file.h"
#include "runtime/services.h"
#include "store/exporters.h"

namespace {

constexpr const char* kUrlList = "超级列表框2_URL";
constexpr const char* kNameList = "超级列表框";
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

void ImportUrls(Window& window, FileDialog& dialog) {
    dialog.set_default_extension("txt");
    dialog.set_mode(FileDialog::Mode::Open);
    dialog.set_filter(text_file_filter());
    if (!dialog.show()) return;
    const ListFileText file{file_read_all(dialog.path())};
    RowBatcher batch(window, kUrlList);
    for_each_list_line(file.text(), [&](std::string_view line) { batch.add({Text(line)}); });
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
    save_list_file(dialog, buyer_ids(window));
}

void ImportWangwang(Window& window, FileDialog& dialog) {
    dialog.set_mode(FileDialog::Mode::Open);
    const bool confirmed = dialog.show();
    window.clear_rows(kNameList);
    if (!confirmed || dialog.path().empty()) return;
    const ListFileText file{file_read_all(dialog.path())};
    RowBatcher batch(window, kNameList);
    for_each_name_line(file.text(), [&](int number, const Text& name) {
        batch.add({to_text(number), name});
    });
    batch.flush();
}
