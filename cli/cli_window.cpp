#include "cli/cli_window.h"

#include <iterator>

namespace {

template <class Map>
auto& slot(Map& map, std::string_view key) {
    auto it = map.find(key);
    if (it == map.end()) it = map.emplace(std::string(key), typename Map::mapped_type{}).first;
    return it->second;
}

}  // namespace

CliWindow::Rows& CliWindow::list(std::string_view name) {
    return slot(lists_, name);
}

void CliWindow::set_checked(std::string_view control, bool checked) {
    std::lock_guard lock(mutex_);
    slot(checked_, control) = checked;
}

void CliWindow::set_selection(std::string_view control, int index) {
    std::lock_guard lock(mutex_);
    slot(selection_, control) = index;
}

Text CliWindow::text(std::string_view control) {
    std::lock_guard lock(mutex_);
    auto it = texts_.find(control);
    return it == texts_.end() ? Text() : it->second;
}

void CliWindow::set_text(std::string_view control, const Text& text) {
    {
        std::lock_guard lock(mutex_);
        slot(texts_, control) = text;
    }
    if (observer_.text) observer_.text(control, text);
}

// Nothing to enable without a display; the command line changes no input during a run.
void CliWindow::set_enabled(std::string_view, bool) {}

bool CliWindow::checked(std::string_view control) {
    std::lock_guard lock(mutex_);
    auto it = checked_.find(control);
    return it != checked_.end() && it->second;
}

int CliWindow::selection(std::string_view control) {
    std::lock_guard lock(mutex_);
    auto it = selection_.find(control);
    return it == selection_.end() ? 0 : it->second;
}

int CliWindow::row_count(std::string_view name) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(list(name).size());
}

int CliWindow::append_row(std::string_view name, const Text& first_cell) {
    int rows;
    {
        std::lock_guard lock(mutex_);
        Rows& target = list(name);
        target.push_back({first_cell});
        rows = static_cast<int>(target.size());
    }
    if (observer_.rows_added) observer_.rows_added(name, rows);
    return rows - 1;
}

void CliWindow::append_rows(std::string_view name, std::vector<std::vector<Text>> rows) {
    int count;
    {
        std::lock_guard lock(mutex_);
        Rows& target = list(name);
        target.insert(target.end(), std::make_move_iterator(rows.begin()),
                      std::make_move_iterator(rows.end()));
        count = static_cast<int>(target.size());
    }
    if (observer_.rows_added) observer_.rows_added(name, count);
}

void CliWindow::set_cell(std::string_view name, int row, int column, const Text& text) {
    if (row < 0 || column < 0) return;
    std::lock_guard lock(mutex_);
    Rows& rows = list(name);
    if (row >= static_cast<int>(rows.size())) return;
    auto& cells = rows[static_cast<size_t>(row)];
    if (column >= static_cast<int>(cells.size())) cells.resize(static_cast<size_t>(column) + 1);
    cells[static_cast<size_t>(column)] = text;
}

Text CliWindow::cell(std::string_view name, int row, int column) {
    if (row < 0 || column < 0) return {};
    std::lock_guard lock(mutex_);
    const Rows& rows = list(name);
    if (row >= static_cast<int>(rows.size())) return {};
    const auto& cells = rows[static_cast<size_t>(row)];
    return column < static_cast<int>(cells.size()) ? cells[static_cast<size_t>(column)] : Text();
}

void CliWindow::clear_rows(std::string_view name) {
    std::lock_guard lock(mutex_);
    list(name).clear();
}

int CliWindow::item_count(std::string_view list_box) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(slot(list_boxes_, list_box).size());
}

Text CliWindow::item(std::string_view list_box, int index) {
    if (index < 0) return {};
    std::lock_guard lock(mutex_);
    const auto& items = slot(list_boxes_, list_box);
    return index < static_cast<int>(items.size()) ? items[static_cast<size_t>(index)] : Text();
}

void CliWindow::add_item(std::string_view list_box, const Text& text) {
    std::lock_guard lock(mutex_);
    slot(list_boxes_, list_box).push_back(text);
}

void CliWindow::clear_items(std::string_view list_box) {
    std::lock_guard lock(mutex_);
    slot(list_boxes_, list_box).clear();
}

void CliWindow::set_pane(int index, const Text& text) {
    if (index < 0 || index > 8) return;
    if (observer_.pane) observer_.pane(index, text);
}

void CliWindow::set_title(const Text& text) {
    if (observer_.title) observer_.title(text);
}

void CliWindow::show_login_page(const std::string& address) {
    if (observer_.login_page) observer_.login_page(address);
}
