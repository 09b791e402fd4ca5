#pragma once
// A window held in memory for harvest tests without a display. It keeps every control's state,
// logs every write in order, and like the real window drops the operations of a stopped run. A
// control name the window does not have ends the test program at once.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "harvest/window.h"

class MemoryWindow : public Window {
public:
    struct Write {
        std::string control;  // control name, "pane:N" or "title"
        Text text;
    };

    MemoryWindow();

    Text text(std::string_view control) override;
    void set_text(std::string_view control, const Text& text) override;
    void set_enabled(std::string_view control, bool enabled) override;
    bool checked(std::string_view control) override;
    int selection(std::string_view control) override;

    int row_count(std::string_view list) override;
    int append_row(std::string_view list, const Text& first_cell) override;
    void append_rows(std::string_view list, std::vector<std::vector<Text>> rows) override;
    void set_cell(std::string_view list, int row, int column, const Text& text) override;
    Text cell(std::string_view list, int row, int column) override;
    void clear_rows(std::string_view list) override;

    int item_count(std::string_view list_box) override;
    Text item(std::string_view list_box, int index) override;
    void add_item(std::string_view list_box, const Text& text) override;
    void clear_items(std::string_view list_box) override;

    void set_pane(int index, const Text& text) override;
    void set_title(const Text& text) override;
    void show_login_page(const std::string& address) override;  // logged as "login_page"

    // Test side: set inputs, read state.
    void set_checked(std::string_view control, bool checked);
    void set_selection(std::string_view control, int index);
    bool enabled(std::string_view control);
    Text pane(int index);
    Text title();
    std::vector<std::vector<Text>> rows(std::string_view list);
    std::vector<Text> column(std::string_view list, int column);
    std::vector<Text> items(std::string_view list_box);
    std::vector<Write> writes();
    // Texts written to one control (a pane as "pane:N"), in order.
    std::vector<Text> writes_to(std::string_view control);

private:
    bool dropped() const;

    std::mutex mutex_;
    std::map<std::string, Text, std::less<>> texts_;
    std::map<std::string, bool, std::less<>> enabled_;
    std::map<std::string, bool, std::less<>> checked_;
    std::map<std::string, int, std::less<>> selection_;
    std::map<std::string, std::vector<std::vector<Text>>, std::less<>> lists_;
    std::map<std::string, std::vector<Text>, std::less<>> list_boxes_;
    std::vector<Text> panes_;
    Text title_;
    std::vector<Write> writes_;
};
