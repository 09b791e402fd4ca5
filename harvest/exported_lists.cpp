#include "harvest/exported_lists.h"

#include <algorithm>

#include "harvest/address_normalise.h"
#include "harvest/controls.h"

namespace {

constexpr std::string_view kItemList = controls::kItemList;
constexpr std::string_view kCollectedBuyers = controls::kCollectedBuyers;
constexpr std::string_view kBuyerList = controls::kBuyerList;
constexpr int kAddressColumn = 1;
constexpr int kBuyerColumn = 1;

}  // namespace

std::vector<Text> column_cells(Window& window, std::string_view list, int column) {
    std::vector<Text> cells;
    const int rows = window.row_count(list);
    cells.reserve(static_cast<size_t>(std::max(rows, 0)));
    for (int row = 0; row < rows; ++row)
        cells.push_back(window.cell(list, row, column));
    return cells;
}

std::vector<Text> item_addresses(Window& window) {
    std::vector<Text> addresses;
    for (const Text& cell : column_cells(window, kItemList, kAddressColumn))
        if (!cell.empty()) addresses.push_back(normalise_address(cell));
    return addresses;
}

std::vector<Text> collected_buyer_ids(Window& window) {
    return column_cells(window, kCollectedBuyers, kBuyerColumn);
}

std::vector<Text> buyer_ids(Window& window) {
    return column_cells(window, kBuyerList, kBuyerColumn);
}
