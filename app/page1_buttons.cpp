#include "app/page1_buttons.h"

#include <QCoreApplication>
#include <algorithm>

#include "app/list_files.h"
#include "harvest/address_normalise.h"
#include "harvest/window.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

constexpr const char* kItemList = "超级列表框2";
constexpr const char* kUrlList = "超级列表框2_URL";
constexpr const char* kCollectedBuyers = "超级列表框1";
constexpr const char* kStatusLabel = "标签8";
constexpr int kAddressColumn = 1;
constexpr int kBuyerColumn = 1;
constexpr size_t kBatchRows = 8192;

std::vector<Text> column_cells(Window& window, const char* list, int column) {
    std::vector<Text> cells;
    const int rows = window.row_count(list);
    cells.reserve(static_cast<size_t>(std::max(rows, 0)));
    for (int row = 0; row < rows; ++row)
        cells.push_back(window.cell(list, row, column));
    return cells;
}

}  // namespace

std::vector<Text> item_addresses(Window& window) {
    std::vector<Text> addresses;
    for (const Text& cell : column_cells(window, kItemList, kAddressColumn))
        if (!cell.empty()) addresses.push_back(normalise_address(cell));
    return addresses;
}

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
            window.append_rows(kUrlList, batch);
            batch.clear();
            QCoreApplication::processEvents();  // a long list repaints as it grows
        }
    }
    if (!batch.empty()) window.append_rows(kUrlList, batch);
    static const Text added = utf8_to_gbk("已添加到URL列表：");
    window.set_text(kStatusLabel, added + to_text(static_cast<long long>(addresses.size())));
}

void ExportCollectedBuyers(Window& window, FileDialog& dialog) {
    save_list_file(dialog, column_cells(window, kCollectedBuyers, kBuyerColumn));
}
