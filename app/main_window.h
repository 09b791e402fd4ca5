#pragma once
// The main window: the tab control with its four pages, the status bar and the hidden settings
// controls, every control reachable by its name (also its objectName). Widgets belong to the
// window thread; other threads go through operations().
#include <QLabel>
#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

struct AppState;
class GbkListModel;
class TabControl;
class WindowOperations;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kPanes = 9;

    // Makes the page-0 browser under the given parent; without one page 0 holds a placeholder.
    using PageFactory = std::function<QWidget*(QWidget* parent)>;

    explicit MainWindow(AppState& state, const PageFactory& login_page = {});
    ~MainWindow() override;

    AppState& state() const { return state_; }
    // The named control operations, callable from any thread.
    WindowOperations& operations() const { return *operations_; }

    // nullptr for an unknown name, which is also reported (unknown_control)
    QWidget* control(std::string_view name) const;
    template <class T>
    T* control_as(std::string_view name) const {
        return qobject_cast<T*>(control(name));
    }
    // The model of a list view or list box; nullptr for any other name.
    GbkListModel* list_model(std::string_view name) const;
    TabControl* tabs() const { return tabs_; }
    QLabel* pane(int index) const;  // status bar pane 0..8, nullptr outside

    // Runs instead of closing when the user closes the window (the program ends there).
    void set_close_handler(std::function<void()> handler) { close_handler_ = std::move(handler); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build(const PageFactory& login_page);
    void add(std::string_view name, QWidget* widget, const char* kind);
    void connect_settings();

    AppState& state_;
    std::map<std::string, QWidget*, std::less<>> controls_;
    std::map<std::string, GbkListModel*, std::less<>> models_;
    TabControl* tabs_ = nullptr;
    QLabel* panes_[kPanes] = {};
    std::unique_ptr<WindowOperations> operations_;
    std::function<void()> close_handler_;
};
