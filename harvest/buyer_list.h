#pragma once
// The buyer IDs of a review answer, listed numbered in a list view. Each ID follows the marker
// and ends at the next "-"; an ID repeated within one answer is listed once.
#include <atomic>
#include <functional>
#include <string_view>
#include <vector>

#include "harvest/row_order.h"
#include "harvest/window.h"
#include "runtime/text.h"

inline constexpr std::string_view kBuyerMarker = "XXXXXXXXXX_!!";

// Told the numbers and IDs before the rows reach the window (the results store keeps them first);
// calls `show` once they are kept, here or later on another thread.
using BuyersNumbered =
    std::function<void(int first, const std::vector<Text>& ids, std::function<void()> show)>;

// Appends the answer's buyer IDs to `list` as rows (number, ID). The numbers are taken from
// `counter` together with a ticket of `order`, `numbered` is told them, and the rows are added in
// the ticket's turn, so that across workers the list stays in number order while `numbered` runs
// on several workers at once. Nothing is listed, and no number taken, once the calling run is
// stopped.
void list_buyers(Window& window, std::string_view list, const Text& answer, RowOrder& order,
                 std::atomic<int>& counter, const BuyersNumbered& numbered = {});
