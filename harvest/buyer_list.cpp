#include "harvest/buyer_list.h"

#include <memory>

#include "harvest/text_extract.h"
#include "runtime/convert.h"
#include "runtime/stop.h"

void list_buyers(Window& window, std::string_view list, const Text& answer, RowOrder& order,
                 std::atomic<int>& counter, const BuyersNumbered& numbered) {
    const std::vector<Text> ids = unique_texts(extract_all_between(answer, kBuyerMarker, "-"));
    if (ids.empty()) return;
    int first = 0;
    std::optional<RowOrder::Ticket> ticket = order.take([&] {
        if (current_run_stopped())
            return false;  // the window would drop the rows; keep the numbers
        first = counter.fetch_add(static_cast<int>(ids.size())) + 1;
        return true;
    });
    if (!ticket) return;
    std::vector<std::vector<Text>> rows;
    rows.reserve(ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
        rows.push_back({to_text(first + static_cast<int>(i)), ids[i]});
    RowOrder::Rows add = [&window, list, rows = std::move(rows)]() mutable {
        window.append_rows(list, std::move(rows));
    };
    if (!numbered) {
        ticket->show(std::move(add));
        return;
    }
    // Outside the order's lock: the workers store their rows at the same time, and the store
    // commits what arrives together in one go.
    auto held = std::make_shared<RowOrder::Ticket>(std::move(*ticket));
    numbered(first, ids, [held, add = std::move(add)]() mutable { held->show(std::move(add)); });
}
