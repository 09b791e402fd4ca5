#pragma once
// The lines each export writes, read from the lists the harvests fill. Every front end exports
// through these, so the same run gives the same file whichever front end drove it.
#include <string_view>
#include <vector>

#include "harvest/window.h"
#include "runtime/text.h"

// The cells of one column, in row order.
std::vector<Text> column_cells(Window& window, std::string_view list, int column);

// The item addresses of 超级列表框2 (column 1) in row order, each with "http:" where the search
// page left the scheme out; empty cells are left out, since an empty line would only stop the
// buyer harvest that imports them.
std::vector<Text> item_addresses(Window& window);

// The buyers the item harvest collected: column 1 of the hidden 超级列表框1, row order.
std::vector<Text> collected_buyer_ids(Window& window);

// The buyer IDs of the review harvest: column 1 of 超级列表框1_user, row order.
std::vector<Text> buyer_ids(Window& window);
