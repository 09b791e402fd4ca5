#pragma once
// The named control operations the harvests use to read inputs and report progress. Control names
// are the window's own (UTF-8 in the code); every text that crosses is GBK. Rows, columns and panes
// count from 0. Callable from any thread: from a worker, an operation runs on the window thread and
// returns when done; an operation sent by a run whose stop token is set is dropped (reads give the
// empty value).
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

class Window {
public:
    virtual ~Window() = default;

    // Edit boxes, labels, buttons.
    virtual Text text(std::string_view control) = 0;  // edit content or caption
    virtual void set_text(std::string_view control, const Text& text) = 0;
    virtual void set_enabled(std::string_view control, bool enabled) = 0;
    // Check boxes and radio buttons.
    virtual bool checked(std::string_view control) = 0;
    // Drop-down lists.
    virtual int selection(std::string_view control) = 0;

    // List views.
    virtual int row_count(std::string_view list) = 0;
    virtual int append_row(std::string_view list, const Text& first_cell) = 0;  // new row's index
    // Many rows in one round trip; each inner vector holds the cells from column 0. A window that
    // keeps the rows as they come takes them over.
    virtual void append_rows(std::string_view list, std::vector<std::vector<Text>> rows) = 0;
    virtual void set_cell(std::string_view list, int row, int column, const Text& text) = 0;
    virtual Text cell(std::string_view list, int row, int column) = 0;
    // Column `column` of up to `count` rows from `first` on (fewer where the list ends). A window
    // that can read them in one operation does; this one reads cell by cell.
    virtual std::vector<Text> column_cells(std::string_view list, int column, int first,
                                           int count) {
        std::vector<Text> cells;
        const int end = std::min(row_count(list), first + count);
        for (int row = first; row < end; ++row)
            cells.push_back(cell(list, row, column));
        return cells;
    }
    virtual void clear_rows(std::string_view list) = 0;

    // List boxes.
    virtual int item_count(std::string_view list_box) = 0;
    virtual Text item(std::string_view list_box, int index) = 0;
    virtual void add_item(std::string_view list_box, const Text& text) = 0;
    virtual void clear_items(std::string_view list_box) = 0;

    // Status bar pane 0..8; any other index is ignored.
    virtual void set_pane(int index, const Text& text) = 0;
    virtual void set_title(const Text& text) = 0;

    // Shows the login page (page 0) with its browser at this address, so the user can pass a
    // check there; the cookies earned reach the shared cookie store. A front end without a
    // browser leaves it to the window title.
    virtual void show_login_page(const std::string& address) { (void)address; }
};
