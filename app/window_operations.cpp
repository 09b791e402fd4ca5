#include "app/window_operations.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/gbk_list_model.h"
#include "app/gbk_qstring.h"
#include "app/login_page.h"
#include "app/main_window.h"
#include "app/tab_control.h"
#include "harvest/controls.h"

namespace {

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct Waiter {
    std::mutex mutex;
    std::condition_variable done_changed;
    std::atomic<bool> done{false};
};

// Most operations take a few microseconds on the window thread: a caller that briefly yields its
// core before going to sleep saves itself the cost of being woken.
constexpr auto kSpin = std::chrono::microseconds(40);

// One operation handed to the window thread. Whether it runs or is thrown away undelivered (its
// receiver destroyed), its end wakes the waiting caller.
class CallEvent : public QEvent {
public:
    CallEvent(std::stop_token token, void (*fn)(void*), void* job, Waiter* waiter)
        : QEvent(kCallEvent), token_(std::move(token)), fn_(fn), job_(job), waiter_(waiter) {}
    ~CallEvent() override { finish(); }

    void run() {
        if (!token_.stop_requested()) fn_(job_);
        finish();
    }

private:
    void finish() {
        Waiter* waiter = std::exchange(waiter_, nullptr);
        if (!waiter) return;
        // Notify under the lock: the caller cannot return and destroy the waiter before we let go.
        std::lock_guard lock(waiter->mutex);
        waiter->done.store(true, std::memory_order_release);
        waiter->done_changed.notify_one();
    }

    std::stop_token token_;
    void (*fn_)(void*);
    void* job_;
    Waiter* waiter_;
};

Text read_text(QWidget* widget) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return to_gbk(edit->text());
    if (auto* label = qobject_cast<QLabel*>(widget)) return to_gbk(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return to_gbk(button->text());
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return to_gbk(combo->currentText());
    return {};
}

void write_text(QWidget* widget, const Text& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(to_qstring(text));
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(to_qstring(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(to_qstring(text));
    }
}

}  // namespace

class WindowOperations::Receiver : public QObject {
public:
    using QObject::QObject;
    bool event(QEvent* event) override {
        if (event->type() != kCallEvent) return QObject::event(event);
        static_cast<CallEvent*>(event)->run();
        return true;
    }
};

WindowOperations::WindowOperations(MainWindow& window)
    : window_(window), receiver_(new Receiver(&window)) {}

WindowOperations::~WindowOperations() = default;

bool WindowOperations::on_window_thread() const {
    return QThread::currentThread() == receiver_->thread();
}

void WindowOperations::dispatch(const std::stop_token& token, JobFn fn, void* job) {
    if (on_window_thread()) {
        if (!token.stop_requested()) fn(job);
        return;
    }
    Waiter waiter;
    QCoreApplication::postEvent(receiver_, new CallEvent(token, fn, job, &waiter));
    const auto spin_end = std::chrono::steady_clock::now() + kSpin;
    while (!waiter.done.load(std::memory_order_acquire) &&
           std::chrono::steady_clock::now() < spin_end)
        std::this_thread::yield();
    // Taking the lock also waits for the window thread to let go of the waiter.
    std::unique_lock lock(waiter.mutex);
    waiter.done_changed.wait(lock, [&] { return waiter.done.load(std::memory_order_relaxed); });
}

Text WindowOperations::text(std::string_view control) {
    return run([&] { return read_text(window_.control(control)); }).value_or(Text{});
}

void WindowOperations::set_text(std::string_view control, const Text& text) {
    run_void([&] { write_text(window_.control(control), text); });
}

void WindowOperations::set_enabled(std::string_view control, bool enabled) {
    run_void([&] {
        if (QWidget* widget = window_.control(control)) widget->setEnabled(enabled);
    });
}

bool WindowOperations::enabled(std::string_view control) {
    return run([&] {
               QWidget* widget = window_.control(control);
               return widget && widget->isEnabled();
           })
        .value_or(false);
}

bool WindowOperations::checked(std::string_view control) {
    return run([&] {
               auto* button = window_.control_as<QAbstractButton>(control);
               return button && button->isChecked();
           })
        .value_or(false);
}

int WindowOperations::selection(std::string_view control) {
    return run([&] {
               auto* combo = window_.control_as<QComboBox>(control);
               return combo ? combo->currentIndex() : 0;
           })
        .value_or(0);
}

int WindowOperations::row_count(std::string_view list) {
    return run([&] {
               GbkListModel* model = window_.list_model(list);
               return model ? model->rows() : 0;
           })
        .value_or(0);
}

int WindowOperations::append_row(std::string_view list, const Text& first_cell) {
    return run([&] {
               GbkListModel* model = window_.list_model(list);
               return model ? model->append_row(first_cell) : -1;
           })
        .value_or(-1);
}

void WindowOperations::append_rows(std::string_view list, std::vector<std::vector<Text>> rows) {
    run_void([&] {
        if (GbkListModel* model = window_.list_model(list)) model->append_rows(rows);
    });
}

void WindowOperations::set_cell(std::string_view list, int row, int column, const Text& text) {
    run_void([&] {
        if (GbkListModel* model = window_.list_model(list)) model->set_cell(row, column, text);
    });
}

Text WindowOperations::cell(std::string_view list, int row, int column) {
    return run([&] {
               GbkListModel* model = window_.list_model(list);
               return model ? model->cell(row, column) : Text{};
           })
        .value_or(Text{});
}

std::vector<Text> WindowOperations::column_cells(std::string_view list, int column, int first,
                                                 int count) {
    return run([&] {
               std::vector<Text> cells;
               GbkListModel* model = window_.list_model(list);
               if (model == nullptr || first < 0) return cells;
               const int end = std::min(model->rows(), first + count);
               cells.reserve(static_cast<size_t>(std::max(end - first, 0)));
               for (int row = first; row < end; ++row)
                   cells.push_back(model->cell(row, column));
               return cells;
           })
        .value_or(std::vector<Text>{});
}

void WindowOperations::clear_rows(std::string_view list) {
    run_void([&] {
        if (GbkListModel* model = window_.list_model(list)) model->clear();
    });
}

int WindowOperations::item_count(std::string_view list_box) {
    return row_count(list_box);
}

Text WindowOperations::item(std::string_view list_box, int index) {
    return cell(list_box, index, 0);
}

void WindowOperations::add_item(std::string_view list_box, const Text& text) {
    append_row(list_box, text);
}

void WindowOperations::clear_items(std::string_view list_box) {
    clear_rows(list_box);
}

void WindowOperations::set_pane(int index, const Text& text) {
    if (index < 0 || index >= MainWindow::kPanes) return;
    run_void([&] { window_.pane(index)->setText(to_qstring(text)); });
}

Text WindowOperations::pane(int index) {
    if (index < 0 || index >= MainWindow::kPanes) return {};
    return run([&] { return to_gbk(window_.pane(index)->text()); }).value_or(Text{});
}

void WindowOperations::set_title(const Text& text) {
    run_void([&] { window_.setWindowTitle(to_qstring(text)); });
}

void WindowOperations::show_login_page(const std::string& address) {
    run_void([&] {
        if (TabControl* tabs = window_.tabs()) tabs->set_current(0);
        point_login_page(window_.control(controls::kBrowser), QString::fromStdString(address));
    });
}

Text WindowOperations::title() {
    return run([&] { return to_gbk(window_.windowTitle()); }).value_or(Text{});
}
