#pragma once
// The Window the harvests talk to, carried out on the main window's widgets. From the window thread
// an operation runs at once; from any other thread it is handed to the window thread and the caller
// waits until it is done. The caller's stop token is checked on the window thread right before the
// operation runs: an operation of a stopped run is dropped, and a read then gives the empty value.
// An unknown control name is reported (unknown_control) and otherwise ignored the same way. The
// window thread must keep handling events while it waits for a worker (wait_pumping), or a worker's
// pending operation would never run.
#include <QObject>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

#include "harvest/window.h"
#include "runtime/stop.h"

class MainWindow;

class WindowOperations : public Window {
public:
    explicit WindowOperations(MainWindow& window);
    ~WindowOperations() override;
    WindowOperations(const WindowOperations&) = delete;
    WindowOperations& operator=(const WindowOperations&) = delete;

    Text text(std::string_view control) override;
    void set_text(std::string_view control, const Text& text) override;
    void set_enabled(std::string_view control, bool enabled) override;
    bool checked(std::string_view control) override;
    int selection(std::string_view control) override;

    int row_count(std::string_view list) override;
    int append_row(std::string_view list, const Text& first_cell) override;  // -1 when dropped
    void append_rows(std::string_view list, std::vector<std::vector<Text>> rows) override;
    void set_cell(std::string_view list, int row, int column, const Text& text) override;
    Text cell(std::string_view list, int row, int column) override;
    std::vector<Text> column_cells(std::string_view list, int column, int first,
                                   int count) override;
    void clear_rows(std::string_view list) override;

    int item_count(std::string_view list_box) override;
    Text item(std::string_view list_box, int index) override;
    void add_item(std::string_view list_box, const Text& text) override;
    void clear_items(std::string_view list_box) override;

    void set_pane(int index, const Text& text) override;
    void set_title(const Text& text) override;
    // Brings page 0 forward with its browser at address.
    void show_login_page(const std::string& address) override;

    // Reads the harvests do not need but tests and the window's own code do.
    Text title();
    Text pane(int index);
    bool enabled(std::string_view control);

    bool on_window_thread() const;

    // Runs f on the window thread unless the calling run is stopped; waits for it. Returns f's
    // result, or nothing when dropped.
    template <class F>
    auto run(F&& f) -> std::optional<std::invoke_result_t<F&>>
    requires(!std::is_void_v<std::invoke_result_t<F&>>) {
        std::optional<std::invoke_result_t<F&>> result;
        run_void([&] { result.emplace(f()); });
        return result;
    }
    // As above for an f without a result; false when dropped.
    template <class F>
    bool run_void(F&& f) {
        bool ran = false;
        auto job = [&] {
            f();
            ran = true;
        };
        dispatch(current_stop_token(), &invoke<decltype(job)>, &job);
        return ran;
    }

private:
    using JobFn = void (*)(void*);
    template <class J>
    static void invoke(void* job) {
        (*static_cast<J*>(job))();
    }
    void dispatch(const std::stop_token& token, JobFn fn, void* job);

    MainWindow& window_;
    class Receiver;
    Receiver* receiver_;  // lives on the window thread, owned by the window
};
