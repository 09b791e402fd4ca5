#pragma once
// The real window, offscreen, with its buttons bound to the test's own harvest entries, a recorded
// message box and helpers to click buttons and let the window work while waiting.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/bindings.h"
#include "app/harvest_entries.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window_operations.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "tests/support/control_names.h"

// Lets the window handle its events until pred holds or the bound passes.
template <class Pred>
bool pump_until(Pred pred, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline void pump_for(std::chrono::milliseconds time) {
    pump_until([] { return false; }, time);
}

class BoundWindow : public testing::Test {
protected:
    void SetUp() override {
        state_ = std::make_unique<AppState>();
        window_ = std::make_unique<MainWindow>(*state_);
        register_window_services(*window_);
        register_message_box([this](const Text& text, int, const Text&) {
            std::lock_guard lock(messages_mutex_);
            messages_.push_back(text);
            return 0;
        });
        bind_actions(*window_, *state_, entries_);
    }

    void TearDown() override {
        // Workers hold the window and the state: let them finish first.
        EXPECT_TRUE(state_->WorkerHandles.wait_idle(10000)) << "a worker did not end";
        state_->pool.Destroy(10000);
        register_message_box({});
        register_message_pump({});
        window_.reset();
        state_.reset();
    }

    AppState& state() { return *state_; }
    // What the buttons start: nothing until a test puts its own harvests in.
    HarvestEntries& entries() { return entries_; }
    MainWindow& window() { return *window_; }
    WindowOperations& ops() { return window_->operations(); }

    void click(const char* button) {
        auto* widget = window_->findChild<QAbstractButton*>(QString::fromUtf8(button));
        ASSERT_NE(widget, nullptr) << button;
        widget->click();
    }

    std::vector<Text> messages() {
        std::lock_guard lock(messages_mutex_);
        return messages_;
    }

    // Column `column` of every row of a list.
    std::vector<Text> column(const char* list, int column) {
        std::vector<Text> cells;
        for (int row = 0; row < ops().row_count(list); ++row)
            cells.push_back(ops().cell(list, row, column));
        return cells;
    }

private:
    HarvestEntries entries_;
    std::unique_ptr<AppState> state_;
    std::unique_ptr<MainWindow> window_;
    std::mutex messages_mutex_;
    std::vector<Text> messages_;
};

inline Text gbk(const char* utf8) {
    return utf8_to_gbk(utf8);
}

// main() of a window test program: an offscreen application for the whole run.
#define BOUND_WINDOW_TEST_MAIN()                                                        \
    int main(int argc, char** argv) {                                                   \
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1); \
        QApplication app(argc, argv);                                                   \
        testing::InitGoogleTest(&argc, argv);                                           \
        fail_tests_on_unknown_controls();                                               \
        return RUN_ALL_TESTS();                                                         \
    }
