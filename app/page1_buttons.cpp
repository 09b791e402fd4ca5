#include "app/page1_buttons.h"

#include <QCoreApplication>
#include <algorithm>

#include "app/list_files.h"
#include "harvest/controls.h"
#include "harvest/exported_lists.h"
#include "harvest/window.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

constexpr std::string_view kUrlList = controls::kUrlList;
constexpr std::string_view kStatusLabel = controls::kStatusLabel;
constexpr size_t kBatchRows = 8192;

}  // namespace

void ExportItemUrls(Window& window, FileDialog& dialog) {
    save_list_file(dialog, item_addresses(window));
}

void AddItemUrls(Window& window) {
    const std::vector<Text> addresses = item_addresses(window);
    std::vector<std::vector<Text>> batch;
    batch.reserve(std::min(addresses.size(), kBatchRows));
    for (const Text& address : addresses) {
        batch.push_back({address});
        if (batch.size() == kBatchRows) {
            window.append_rows(kUrlList, std::move(batch));
            batch.clear();
            batch.reserve(kBatchRows);
            QCoreApplication::processEvents();  // a long list repaints as it grows
        }
    }
    if (!batch.empty()) window.append_rows(kUrlList, std::move(batch));
    static const Text added = utf8_to_gbk("已添加到URL列表：");
    window.set_text(kStatusLabel, added + to_text(static_cast<long long>(addresses.size())));
}

void ExportCollectedBuyers(Window& window, FileDialog& dialog) {
    save_list_file(dialog, collected_buyer_ids(window));
}
