#pragma once
// The window of the command line: every control's value and every list's rows held in memory, so
// the harvests run unchanged without a display. Thread-safe. Unlike the desktop window it keeps
// whatever a stopped run already sent: the rows received before an interrupt are written out.
// Each write is passed on to an observer (the progress display) after the lock is released.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "harvest/window.h"

class CliWindow final : public Window {
public:
    // What the progress display hears about: captions, panes, the title, rows appended and the
    // login page a lasting block asks for (there is no browser here to pass its check in).
    struct Observer {
        std::function<void(std::string_view control, const Text& text)> text;
        std::function<void(int pane, const Text& text)> pane;
        std::function<void(const Text& title)> title;
        std::function<void(std::string_view list, int rows)> rows_added;
        std::function<void(const std::string& address)> login_page;
    };

    CliWindow() = default;
    CliWindow(const CliWindow&) = delete;
    CliWindow& operator=(const CliWindow&) = delete;

    // Set before any run starts.
    void set_observer(Observer observer) { observer_ = std::move(observer); }
    // Inputs the command line fills in before a run.
    void set_checked(std::string_view control, bool checked);
    void set_selection(std::string_view control, int index);

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
    void show_login_page(const std::string& address) override;

private:
    using Rows = std::vector<std::vector<Text>>;
    Rows& list(std::string_view name);

    std::mutex mutex_;
    std::map<std::string, Text, std::less<>> texts_;
    std::map<std::string, bool, std::less<>> checked_;
    std::map<std::string, int, std::less<>> selection_;
    std::map<std::string, Rows, std::less<>> lists_;
    std::map<std::string, std::vector<Text>, std::less<>> list_boxes_;
    Observer observer_;
};
