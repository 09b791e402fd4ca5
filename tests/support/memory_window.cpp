#include "tests/support/memory_window.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "harvest/controls.h"
#include "runtime/stop.h"

namespace {

// The test window knows the real window's controls: a name the window lacks fails the test
// program at once, in every build, instead of making a feature quietly do nothing.
void require_known(std::string_view control) {
    if (find_control(control)) return;
    std::fprintf(stderr, "MemoryWindow: unknown control name \"%.*s\"\n",
                 static_cast<int>(control.size()), control.data());
    std::abort();
}

template <class Map>
auto& slot(Map& map, std::string_view key) {
    auto it = map.find(key);
    if (it == map.end()) it = map.emplace(std::string(key), typename Map::mapped_type{}).first;
    return it->second;
}
}  // namespace

MemoryWindow::MemoryWindow() : panes_(9) {}

bool MemoryWindow::dropped() const {
    return current_run_stopped();
}

Text MemoryWindow::text(std::string_view control) {
    require_known(control);
    if (dropped()) return {};
    std::lock_guard lock(mutex_);
    auto it = texts_.find(control);
    return it == texts_.end() ? Text() : it->second;
}

void MemoryWindow::set_text(std::string_view control, const Text& text) {
    require_known(control);
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    slot(texts_, control) = text;
    writes_.push_back({std::string(control), text});
}

void MemoryWindow::set_enabled(std::string_view control, bool enabled) {
    require_known(control);
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    slot(enabled_, control) = enabled;
}

bool MemoryWindow::checked(std::string_view control) {
    require_known(control);
    if (dropped()) return false;
    std::lock_guard lock(mutex_);
    auto it = checked_.find(control);
    return it != checked_.end() && it->second;
}

int MemoryWindow::selection(std::string_view control) {
    require_known(control);
    if (dropped()) return 0;
    std::lock_guard lock(mutex_);
    auto it = selection_.find(control);
    return it == selection_.end() ? 0 : it->second;
}

int MemoryWindow::row_count(std::string_view list) {
    require_known(list);
    if (dropped()) return 0;
    std::lock_guard lock(mutex_);
    return static_cast<int>(slot(lists_, list).size());
}

int MemoryWindow::append_row(std::string_view list, const Text& first_cell) {
    require_known(list);
    if (dropped()) return -1;
    std::lock_guard lock(mutex_);
    auto& rows = slot(lists_, list);
    rows.push_back({first_cell});
    return static_cast<int>(rows.size()) - 1;
}

void MemoryWindow::append_rows(std::string_view list, std::vector<std::vector<Text>> rows) {
    require_known(list);
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    auto& target = slot(lists_, list);
    target.insert(target.end(), std::make_move_iterator(rows.begin()),
                  std::make_move_iterator(rows.end()));
}

void MemoryWindow::set_cell(std::string_view list, int row, int column, const Text& text) {
    require_known(list);
    if (dropped() || row < 0 || column < 0) return;
    std::lock_guard lock(mutex_);
    auto& rows = slot(lists_, list);
    if (row >= static_cast<int>(rows.size())) return;
    auto& cells = rows[row];
    if (column >= static_cast<int>(cells.size())) cells.resize(column + 1);
    cells[column] = text;
}

Text MemoryWindow::cell(std::string_view list, int row, int column) {
    require_known(list);
    if (dropped() || row < 0 || column < 0) return {};
    std::lock_guard lock(mutex_);
    auto& rows = slot(lists_, list);
    if (row >= static_cast<int>(rows.size()) || column >= static_cast<int>(rows[row].size()))
        return {};
    return rows[row][column];
}

void MemoryWindow::clear_rows(std::string_view list) {
    require_known(list);
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    slot(lists_, list).clear();
}

int MemoryWindow::item_count(std::string_view list_box) {
    require_known(list_box);
    if (dropped()) return 0;
    std::lock_guard lock(mutex_);
    return static_cast<int>(slot(list_boxes_, list_box).size());
}

Text MemoryWindow::item(std::string_view list_box, int index) {
    require_known(list_box);
    if (dropped() || index < 0) return {};
    std::lock_guard lock(mutex_);
    auto& items = slot(list_boxes_, list_box);
    return index < static_cast<int>(items.size()) ? items[index] : Text();
}

void MemoryWindow::add_item(std::string_view list_box, const Text& text) {
    require_known(list_box);
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    slot(list_boxes_, list_box).push_back(text);
}

void MemoryWindow::clear_items(std::string_view list_box) {
    require_known(list_box);
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    slot(list_boxes_, list_box).clear();
}

void MemoryWindow::set_pane(int index, const Text& text) {
    if (dropped() || index < 0 || index > 8) return;
    std::lock_guard lock(mutex_);
    panes_[index] = text;
    writes_.push_back({"pane:" + std::to_string(index), text});
}

void MemoryWindow::set_title(const Text& text) {
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    title_ = text;
    writes_.push_back({"title", text});
}

void MemoryWindow::show_login_page(const std::string& address) {
    if (dropped()) return;
    std::lock_guard lock(mutex_);
    writes_.push_back({"login_page", address});
}

void MemoryWindow::set_checked(std::string_view control, bool checked) {
    require_known(control);
    std::lock_guard lock(mutex_);
    slot(checked_, control) = checked;
}

void MemoryWindow::set_selection(std::string_view control, int index) {
    require_known(control);
    std::lock_guard lock(mutex_);
    slot(selection_, control) = index;
}

bool MemoryWindow::enabled(std::string_view control) {
    require_known(control);
    std::lock_guard lock(mutex_);
    auto it = enabled_.find(control);
    return it == enabled_.end() || it->second;
}

Text MemoryWindow::pane(int index) {
    std::lock_guard lock(mutex_);
    return index >= 0 && index < 9 ? panes_[index] : Text();
}

Text MemoryWindow::title() {
    std::lock_guard lock(mutex_);
    return title_;
}

std::vector<std::vector<Text>> MemoryWindow::rows(std::string_view list) {
    require_known(list);
    std::lock_guard lock(mutex_);
    return slot(lists_, list);
}

std::vector<Text> MemoryWindow::column(std::string_view list, int column) {
    require_known(list);
    std::lock_guard lock(mutex_);
    std::vector<Text> out;
    for (const auto& row : slot(lists_, list))
        out.push_back(column < static_cast<int>(row.size()) ? row[column] : Text());
    return out;
}

std::vector<Text> MemoryWindow::items(std::string_view list_box) {
    require_known(list_box);
    std::lock_guard lock(mutex_);
    return slot(list_boxes_, list_box);
}

std::vector<MemoryWindow::Write> MemoryWindow::writes() {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<Text> MemoryWindow::writes_to(std::string_view control) {
    std::lock_guard lock(mutex_);
    std::vector<Text> out;
    for (const auto& w : writes_)
        if (w.control == control) out.push_back(w.text);
    return out;
}
