#include "app/list_files.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "app/file_dialog.h"
#include "harvest/controls.h"
#include "harvest/exported_lists.h"
#include "harvest/program_values.h"
#include "harvest/window.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/list_file.h"
#include "runtime/services.h"
#include "store/exporters.h"

namespace {

constexpr std::string_view kUrlList = controls::kUrlList;
constexpr std::string_view kNameList = controls::kNameList;
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

// The chosen file's bytes for an import. A device, a pipe or an oversized file is refused with a
// message; a missing or unreadable one imports as nothing, as an empty one does.
ListFileText read_import(const std::filesystem::path& path) {
    FileRead read = file_read_regular(path, kMaxListFileBytes);
    if (read.status == FileReadStatus::not_regular) {
        static const Text refused = utf8_to_gbk("导入失败：所选的不是普通文件");
        message_box(refused);
    } else if (read.status == FileReadStatus::too_large) {
        static const Text refused = utf8_to_gbk("导入失败：文件大于 1 GiB");
        message_box(refused);
    }
    return ListFileText{std::move(read.bytes)};
}

// Rows collected for one append; the window handles its events after each batch.
class RowBatcher {
public:
    RowBatcher(Window& window, std::string_view list) : window_(window), list_(list) {
        rows_.reserve(kBatchRows);
    }
    void add(std::vector<Text> cells) {
        rows_.push_back(std::move(cells));
        if (rows_.size() >= kBatchRows) flush();
    }
    void flush() {
        if (rows_.empty()) return;
        window_.append_rows(list_, std::move(rows_));
        rows_.clear();
        rows_.reserve(kBatchRows);
        QCoreApplication::processEvents();
    }

private:
    Window& window_;
    std::string_view list_;
    std::vector<std::vector<Text>> rows_;
};

}  // namespace

void ImportUrls(Window& window, FileDialog& dialog) {
    dialog.set_default_extension("txt");
    dialog.set_mode(FileDialog::Mode::Open);
    dialog.set_filter(text_file_filter());
    if (!dialog.show()) return;
    const ListFileText file = read_import(dialog.path());
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
    // The format follows the file type chosen, that is the name's extension. The file that was
    // there stays whole unless the new one was written whole; a failure is said, not swallowed.
    std::string reason;
    if (!export_lines(dialog.path(), lines, &reason)) {
        message_box(utf8_to_gbk("导出失败：文件未能完整写入，原有文件保持不变。" + reason));
        return false;
    }
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
    const ListFileText file = read_import(dialog.path());
    RowBatcher batch(window, kNameList);
    for_each_name_line(file.text(), [&](int number, const Text& name) {
        batch.add({to_text(number), name});
    });
    batch.flush();
}
