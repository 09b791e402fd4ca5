// The named control operations from the window thread and from workers: round trips, the stop
// token's drop, unknown names, the message pump and the real message box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/message_dialog.h"
#include "app/startup.h"
#include "app/window_operations.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/stop.h"
#include "tests/support/control_names.h"
#include "tests/support/memory_window.h"

namespace {

// Runs f on a worker thread while this (the window) thread keeps handling events.
void in_worker(const std::function<void()>& f, std::stop_token token = {}) {
    QEventLoop loop;
    std::thread worker([&] {
        set_current_stop_token(token);
        f();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

class WindowOperationsTest : public ::testing::Test {
protected:
    void SetUp() override { window = std::make_unique<MainWindow>(state); }
    WindowOperations& ops() { return window->operations(); }

    AppState state;
    std::unique_ptr<MainWindow> window;
};

// What a worker writes, it reads back; what it wrote is what the window shows.
struct RoundTrip {
    const char* name;
    std::function<void(Window&)> write;
    std::function<Text(Window&)> read;
    const char* expected;  // UTF-8; compared as GBK
};

const Text kChinese = utf8_to_gbk("淘宝买家");

const RoundTrip kRoundTrips[] = {
    {"edit", [](Window& w) { w.set_text("编辑框_关键字", kChinese); },
     [](Window& w) { return w.text("编辑框_关键字"); }, "淘宝买家"},
    {"label", [](Window& w) { w.set_text("标签8", utf8_to_gbk("需要登陆！")); },
     [](Window& w) { return w.text("标签8"); }, "需要登陆！"},
    {"button caption", [](Window& w) { w.set_text("按钮_采集", utf8_to_gbk("停止")); },
     [](Window& w) { return w.text("按钮_采集"); }, "停止"},
    {"disable", [](Window& w) { w.set_enabled("编辑框_低", false); },
     [](Window& w) { return to_text(static_cast<WindowOperations&>(w).enabled("编辑框_低")); },
     "假"},
    {"check box", [](Window&) {}, [](Window& w) { return to_text(w.checked("选择框1")); }, "假"},
    {"radio", [](Window&) {}, [](Window& w) { return to_text(w.checked("单选框1")); }, "真"},
    {"selection", [](Window&) {}, [](Window& w) { return to_text(w.selection("组合框1")); }, "0"},
    {"rows",
     [](Window& w) {
         const int row = w.append_row("超级列表框2", "1");
         w.set_cell("超级列表框2", row, 1, "http://item/1");
         w.set_cell("超级列表框2", row, 3, kChinese);
         w.append_rows("超级列表框2", {{"2", "http://item/2", "22"}, {"3"}});
     },
     [](Window& w) {
         return to_text(w.row_count("超级列表框2")) + "|" + w.cell("超级列表框2", 0, 1) + "|" +
                w.cell("超级列表框2", 0, 3) + "|" + w.cell("超级列表框2", 1, 2) + "|" +
                w.cell("超级列表框2", 2, 0) + "|" + w.cell("超级列表框2", 2, 1);
     },
     "3|http://item/1|淘宝买家|22|3|"},
    {"clear rows",
     [](Window& w) {
         w.append_row("超级列表框1_user", "1");
         w.clear_rows("超级列表框1_user");
     },
     [](Window& w) { return to_text(w.row_count("超级列表框1_user")); }, "0"},
    {"list box",
     [](Window& w) {
         w.add_item("列表框_店铺", "http://shop1.example");
         w.add_item("列表框_店铺", kChinese);
     },
     [](Window& w) {
         return to_text(w.item_count("列表框_店铺")) + "|" + w.item("列表框_店铺", 1) + "|" +
                w.item("列表框_店铺", 2);
     },
     "2|淘宝买家|"},
    {"clear list box",
     [](Window& w) {
         w.add_item("列表框_页面", "p");
         w.clear_items("列表框_页面");
     },
     [](Window& w) { return to_text(w.item_count("列表框_页面")); }, "0"},
    {"pane", [](Window& w) { w.set_pane(7, "3/10"); },
     [](Window& w) { return static_cast<WindowOperations&>(w).pane(7); }, "3/10"},
    {"title", [](Window& w) { w.set_title(utf8_to_gbk("正常运行...")); },
     [](Window& w) { return static_cast<WindowOperations&>(w).title(); }, "正常运行..."},
};

TEST_F(WindowOperationsTest, RoundTripsFromTheWindowThreadAndFromAWorker) {
    for (bool from_worker : {false, true}) {
        for (const RoundTrip& trip : kRoundTrips) {
            SCOPED_TRACE(std::string(trip.name) + (from_worker ? " (worker)" : " (window)"));
            window = std::make_unique<MainWindow>(state);
            Text got;
            auto body = [&] {
                trip.write(ops());
                got = trip.read(ops());
            };
            if (from_worker)
                in_worker(body);
            else
                body();
            EXPECT_EQ(got, utf8_to_gbk(trip.expected));
        }
    }
}

TEST_F(WindowOperationsTest, WorkerWritesReachTheWidgets) {
    in_worker([&] {
        ops().set_text("标签7_url", utf8_to_gbk("商品地址"));
        ops().set_enabled("按钮3_批量获取", false);
        ops().set_pane(5, "120");
    });
    EXPECT_EQ(window->control_as<QLabel>("标签7_url")->text(), QString::fromUtf8("商品地址"));
    EXPECT_FALSE(window->control("按钮3_批量获取")->isEnabled());
    EXPECT_EQ(window->pane(5)->text(), QStringLiteral("120"));
}

TEST_F(WindowOperationsTest, ManyWorkersAppendingAtOnceLoseNoRow) {
    constexpr int kWorkers = 4, kRows = 300;
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kRows; ++i) {
                const int row = ops().append_row("超级列表框1_user", to_text(w));
                ops().set_cell("超级列表框1_user", row, 1, to_text(w * kRows + i));
            }
            ++finished;
        });
    while (finished < kWorkers)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (auto& t : workers)
        t.join();
    ASSERT_EQ(ops().row_count("超级列表框1_user"), kWorkers * kRows);
    // Each row carries its own worker's number and a value that worker wrote.
    std::vector<int> seen(kWorkers * kRows, 0);
    for (int row = 0; row < kWorkers * kRows; ++row) {
        const int value = to_int(ops().cell("超级列表框1_user", row, 1));
        ASSERT_EQ(value / kRows, to_int(ops().cell("超级列表框1_user", row, 0)));
        ++seen[static_cast<std::size_t>(value)];
    }
    for (int count : seen)
        EXPECT_EQ(count, 1);
}

TEST_F(WindowOperationsTest, StoppedRunsOperationsAreDropped) {
    std::stop_source run;
    ops().append_row("超级列表框2", "1");
    in_worker(
        [&] {
            ops().set_text("标签8", "before");
            run.request_stop();  // the user clicked Stop
            ops().set_text("标签8", "after");
            ops().set_enabled("按钮_采集", false);
            EXPECT_EQ(ops().append_row("超级列表框2", "2"), -1);
            ops().append_rows("超级列表框2", {{"3"}, {"4"}});
            ops().set_cell("超级列表框2", 0, 1, "x");
            ops().clear_rows("超级列表框2");
            ops().add_item("列表框_页面", "x");
            ops().set_pane(5, "99");
            ops().set_title("stopped");
            // Reads give the empty value.
            EXPECT_EQ(ops().text("标签8"), "");
            EXPECT_EQ(ops().text("编辑框1"), "");
            EXPECT_FALSE(ops().checked("单选框1"));
            EXPECT_EQ(ops().row_count("超级列表框2"), 0);
            EXPECT_EQ(ops().cell("超级列表框2", 0, 0), "");
            EXPECT_EQ(ops().item_count("列表框_页面"), 0);
        },
        run.get_token());
    EXPECT_EQ(ops().text("标签8"), "before");
    EXPECT_TRUE(ops().enabled("按钮_采集"));
    EXPECT_EQ(ops().row_count("超级列表框2"), 1);
    EXPECT_EQ(ops().cell("超级列表框2", 0, 1), "");
    EXPECT_EQ(ops().item_count("列表框_页面"), 0);
    EXPECT_EQ(ops().pane(5), "0");
    EXPECT_EQ(ops().title(), "Zembra");
}

TEST_F(WindowOperationsTest, StopIsCheckedOnTheWindowThreadJustBeforeRunning) {
    // The worker's call is already queued when the Stop click is handled; it must not run.
    std::stop_source run;
    std::atomic<bool> calling{false}, returned{false};
    std::thread worker([&] {
        set_current_stop_token(run.get_token());
        calling = true;
        ops().set_text("标签8", "late");
        returned = true;
    });
    while (!calling)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // it queues and waits meanwhile
    EXPECT_FALSE(returned);
    run.request_stop();
    while (!returned)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_EQ(ops().text("标签8"), "");
}

std::atomic<int> unknown_names{0};

TEST_F(WindowOperationsTest, UnknownNamesAreReportedAndIgnoredAsArePanesOutside) {
    unknown_names = 0;
    const UnknownControlHandler test_handler =
        set_unknown_control_handler([](std::string_view) { ++unknown_names; });
    in_worker([&] {
        Window& w = ops();
        w.set_text("没有", "x");
        w.set_enabled("没有", false);
        w.set_cell("没有", 0, 0, "x");
        w.append_rows("没有", {{"x"}});
        w.clear_rows("没有");
        w.add_item("没有", "x");
        w.clear_items("没有");
        EXPECT_EQ(w.text("没有"), "");
        EXPECT_FALSE(w.checked("没有"));
        EXPECT_EQ(w.selection("没有"), 0);
        EXPECT_EQ(w.row_count("没有"), 0);
        EXPECT_EQ(w.append_row("没有", "x"), -1);
        EXPECT_EQ(w.cell("没有", 0, 0), "");
        EXPECT_EQ(w.item_count("没有"), 0);
        EXPECT_EQ(w.item("没有", 0), "");
        // A list's cell outside its rows or columns.
        EXPECT_EQ(w.cell("超级列表框2", 5, 0), "");
        w.set_cell("超级列表框2", 5, 0, "x");
        w.set_cell("超级列表框2", -1, 0, "x");
        EXPECT_EQ(w.row_count("超级列表框2"), 0);
        const int row = w.append_row("超级列表框2", "1");
        w.set_cell("超级列表框2", row, 4, "x");  // it has four columns: 0..3
        EXPECT_EQ(w.cell("超级列表框2", row, 4), "");
        // Wrong kind: a caption of a list, the check state of an edit box.
        EXPECT_EQ(w.text("超级列表框2"), "");
        EXPECT_FALSE(w.checked("编辑框1"));
    });
    set_unknown_control_handler(test_handler);
    EXPECT_EQ(unknown_names.load(), 15);  // each operation on "没有", none on a known name
    const Text before[] = {"线程", "1", "当前线程", "0", "采集数量", "0", "当前页数", "0", ""};
    for (int index : {-1, 9, 100, -100})
        ops().set_pane(index, "x");
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(ops().pane(i), utf8_to_gbk(before[i])) << i;
}

TEST_F(WindowOperationsTest, MessagePumpHandlesEventsWhileWaiting) {
    register_window_services(*window);
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    wait_pumping(50);
    EXPECT_TRUE(fired);
    register_message_pump({});
}

struct ButtonSet {
    int flags;
    std::vector<int> answers;
    int escape;
};

TEST(MessageBox, ButtonsAndAnswersFollowTheFlags) {
    const ButtonSet sets[] = {
        {0, {0}, 0},    {1, {0, 1}, 1}, {2, {2, 3, 4}, 2}, {3, {5, 6, 1}, 1},  {4, {5, 6}, 6},
        {5, {3, 1}, 1}, {0x40, {0}, 0}, {0x24, {5, 6}, 6}, {0x131, {0, 1}, 1}, {15, {0}, 0},
    };
    for (const ButtonSet& set : sets) {
        SCOPED_TRACE(set.flags);
        std::vector<int> answers;
        for (const MessageButton& b : message_box_buttons(set.flags))
            answers.push_back(b.answer);
        EXPECT_EQ(answers, set.answers);
        EXPECT_EQ(message_box_escape_answer(set.flags), set.escape);
    }
}

// Clicks the given button of the next message box that shows up; notes its text.
void answer_next_box(QMessageBox::StandardButton button, QString* text) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        *text = box->text() + QStringLiteral("|") + box->windowTitle();
        poll->stop();
        poll->deleteLater();
        box->button(button)->click();
    });
    poll->start(5);
}

TEST_F(WindowOperationsTest, RealMessageBoxFromAWorkerIsAnsweredOnTheWindowThread) {
    register_window_services(*window);
    window->show();
    struct Case {
        int flags;
        QMessageBox::StandardButton click;
        int answer;
    };
    const Case cases[] = {{0, QMessageBox::Ok, 0},
                          {4, QMessageBox::No, 6},
                          {3, QMessageBox::Yes, 5},
                          {2, QMessageBox::Retry, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        QString shown;
        answer_next_box(c.click, &shown);
        int answer = -1;
        in_worker([&] {
            answer = message_box_text(utf8_to_gbk("导出成功"), c.flags, utf8_to_gbk("信息："));
        });
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(shown, QString::fromUtf8("导出成功|信息："));
    }
    // A stopped run's box is not shown at all.
    std::stop_source run;
    run.request_stop();
    int answer = -1;
    in_worker([&] { answer = message_box_text("x", 1, "y"); }, run.get_token());
    EXPECT_EQ(answer, 1);
    register_message_box({});
    register_message_pump({});
}

// A worker reads a slice of a column in one operation; the window does it as the cell-by-cell
// reading of any other window would.
TEST_F(WindowOperationsTest, ColumnCellsReadASliceAsCellByCellWould) {
    MemoryWindow memory;
    std::vector<std::vector<Text>> rows;
    for (int i = 0; i < 5; ++i)
        rows.push_back({"u" + std::to_string(i), "x"});
    memory.append_rows("超级列表框2_URL", rows);
    ops().append_rows("超级列表框2_URL", rows);
    const struct {
        const char* list;
        int column, first, count;
        std::vector<Text> cells;
    } cases[] = {
        {"超级列表框2_URL", 0, 0, 5, {"u0", "u1", "u2", "u3", "u4"}},
        {"超级列表框2_URL", 0, 3, 10, {"u3", "u4"}},
        {"超级列表框2_URL", 0, 1, 2, {"u1", "u2"}},
        {"超级列表框2_URL", 0, 5, 3, {}},
        {"超级列表框2_URL", 0, 2, 0, {}},
    };
    for (const auto& c : cases) {
        std::vector<Text> from_worker;
        in_worker([&] { from_worker = ops().column_cells(c.list, c.column, c.first, c.count); });
        EXPECT_EQ(from_worker, c.cells) << c.first << "+" << c.count;
        EXPECT_EQ(memory.column_cells(c.list, c.column, c.first, c.count), c.cells)
            << c.first << "+" << c.count;
    }
    // An unknown list reads nothing, and is reported.
    unknown_names = 0;
    const UnknownControlHandler test_handler =
        set_unknown_control_handler([](std::string_view) { ++unknown_names; });
    EXPECT_TRUE(ops().column_cells("no such list", 0, 0, 3).empty());
    set_unknown_control_handler(test_handler);
    EXPECT_EQ(unknown_names.load(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    fail_tests_on_unknown_controls();
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // listing needs no window
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
