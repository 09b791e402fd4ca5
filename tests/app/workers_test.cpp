// Workers, the review cursor and the page-3 run, driven through the real window's buttons.
#include <QComboBox>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "app/feedback.h"
#include "app/member_id_run.h"
#include "app/workers.h"
#include "harvest/program_values.h"
#include "runtime/files.h"
#include "runtime/stop.h"
#include "tests/app/bound_window_fixture.h"
#include "tests/support/gate.h"
#include "tests/support/http_server.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kItems = "超级列表框2";
constexpr const char* kUrls = "超级列表框2_URL";
constexpr const char* kNames = "超级列表框";
constexpr const char* kHarvestButton = "按钮_采集";
constexpr const char* kReviewButton = "按钮3_批量获取";
constexpr const char* kMemberIdButton = "按钮5";
constexpr const char* kProgress = "标签15";

class Workers : public BoundWindow {
protected:
    void SetUp() override {
        BoundWindow::SetUp();
        ops().set_text("编辑框_关键字", gbk("连衣裙"));  // the harvest button refuses an empty one
    }
};

// Whatever a run sends after the Stop click never reaches the window: not while the worker is
// blocked in its own work, not while its operation waits for the window thread, not when the stop
// comes before the worker's first operation could run.
TEST_F(Workers, StopDropsEveryLaterOperationOfTheRun) {
    enum class Blocked { InOwnWork, InWindowOperation, BeforeFirstOperation };
    const struct {
        const char* name;
        Blocked blocked;
        int mode;  // 组合框1: 0 item search, 1 shop items
        std::vector<Text> rows_left;
    } cases[] = {
        {"blocked in own work", Blocked::InOwnWork, 0, {"before"}},
        {"blocked in a window operation", Blocked::InWindowOperation, 0, {"before"}},
        {"stopped at once", Blocked::BeforeFirstOperation, 0, {}},
        {"shop mode, blocked in own work", Blocked::InOwnWork, 1, {"before"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ops().clear_rows(kItems);
        ops().set_text("标签8", "");
        ops().set_pane(5, "0");
        window().findChild<QComboBox*>(QString::fromUtf8("组合框1"))->setCurrentIndex(c.mode);
        Gate gate;
        std::atomic<bool> reached{false};
        std::atomic<bool> wrong_entry{false};
        // The worker halts at the gate after its first row; when the gate opens before the click,
        // its next operation is already waiting for the window thread when Stop comes.
        HarvestEntry stand_in = [&](Window& w, AppState&) {
            if (c.blocked != Blocked::BeforeFirstOperation) w.append_row(kItems, "before");
            reached = true;
            if (c.blocked != Blocked::BeforeFirstOperation) gate.wait();
            for (int i = 0; i < 3; ++i)
                w.append_row(kItems, "after");
            w.set_text("标签8", "late");
            w.set_pane(5, "999");
        };
        HarvestEntry wrong = [&](Window&, AppState&) { wrong_entry = true; };
        entries().item_search = c.mode == 0 ? stand_in : wrong;
        entries().shop_items = c.mode == 0 ? wrong : stand_in;

        click(kHarvestButton);
        EXPECT_EQ(ops().text(kHarvestButton), gbk("停止"));
        EXPECT_TRUE(state().WorkerHandles.occupied(0));
        if (c.blocked != Blocked::BeforeFirstOperation) {
            ASSERT_TRUE(pump_until([&] { return reached.load(); }));
        }
        if (c.blocked == Blocked::InWindowOperation) {
            gate.release();  // no events handled from here until after the click
            std::this_thread::sleep_for(30ms);
        }

        const auto click_start = std::chrono::steady_clock::now();
        click(kHarvestButton);
        EXPECT_LT(std::chrono::steady_clock::now() - click_start, 1s) << "Stop waited";
        gate.release();
        ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
        pump_for(50ms);

        EXPECT_EQ(column(kItems, 0), c.rows_left);
        EXPECT_EQ(ops().text("标签8"), "");
        EXPECT_EQ(ops().pane(5), "0");
        EXPECT_EQ(ops().text(kHarvestButton), gbk("采集"));
        EXPECT_EQ(state().values.StopFlag.load(), 1);
        EXPECT_FALSE(state().WorkerHandles.occupied(0));
        EXPECT_FALSE(wrong_entry) << "the other mode's harvest ran";
    }
}

TEST_F(Workers, WorkerEndingByItselfEmptiesItsSlotAndTheNextClickStops) {
    std::atomic<int> runs{0};
    entries().item_search = [&](Window& w, AppState& s) {
        EXPECT_EQ(s.values.StopFlag.load(), 0);
        w.append_row(kItems, to_text(++runs));
    };
    for (int round = 1; round <= 2; ++round) {
        click(kHarvestButton);
        ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
        EXPECT_FALSE(state().WorkerHandles.occupied(0)) << "round " << round;
        EXPECT_EQ(ops().text(kHarvestButton), gbk("停止")) << "a finished run restored the caption";
        click(kHarvestButton);
        EXPECT_EQ(ops().text(kHarvestButton), gbk("采集"));
    }
    EXPECT_EQ(column(kItems, 0), (std::vector<Text>{"1", "2"}));
}

TEST_F(Workers, StopEndsTheRunsOfSlotsZeroToTwoOnly) {
    std::atomic<int> stopped_mask{0};
    for (int slot = 0; slot < WorkerHandleTable::kSlots; ++slot) {
        ASSERT_TRUE(state().WorkerHandles.start(slot, [&, slot] {
            const auto end = std::chrono::steady_clock::now() + 400ms;
            while (!current_run_stopped() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(1ms);
            if (current_run_stopped()) stopped_mask |= 1 << slot;
        }));
    }
    stop_harvest_worker(state());
    ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
    EXPECT_EQ(stopped_mask.load(), 0b00111);
}

// Ends when its run is stopped (or after ten seconds, so no test hangs); counts its ends.
void run_until_stopped(std::atomic<int>& started, std::atomic<int>& ended) {
    ++started;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!current_run_stopped() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    if (current_run_stopped()) ++ended;
}

TEST(WorkerThreads, TheTableStopsAndJoinsTheWorkersStillGoingWhenItEnds) {
    std::atomic<int> started{0}, ended{0};
    {
        WorkerHandleTable table;
        ASSERT_TRUE(table.start(0, [&] { run_until_stopped(started, ended); }));
        ASSERT_TRUE(table.start(3, [&] { run_until_stopped(started, ended); }));
        ASSERT_TRUE(table.start_unslotted([&] { run_until_stopped(started, ended); }));
        ASSERT_TRUE(pump_until([&] { return started.load() == 3; }));
        EXPECT_EQ(table.live(), 3);
    }
    EXPECT_EQ(ended.load(), 3) << "a worker outlived the table that started it";
}

TEST(WorkerThreads, StopFlagAndTheHarvestRunShareOneSignal) {
    ProgramValues values;
    WorkerHandleTable table;
    std::atomic<int> started{0}, ended{0};
    values.StopFlag.store(0);
    ASSERT_TRUE(table.start(
        0, [&] { run_until_stopped(started, ended); }, values.StopFlag.source()));
    ASSERT_TRUE(pump_until([&] { return started.load() == 1; }));
    EXPECT_TRUE(table.occupied(0));
    values.StopFlag.store(1);  // the flag alone, the slot untouched
    ASSERT_TRUE(table.wait_idle(10000));
    EXPECT_EQ(ended.load(), 1);
    // The next run gets a fresh signal.
    values.StopFlag.store(0);
    ASSERT_TRUE(table.start(
        0, [&] { run_until_stopped(started, ended); }, values.StopFlag.source()));
    ASSERT_TRUE(pump_until([&] { return started.load() == 2; }));
    table.stop(0);
    ASSERT_TRUE(table.wait_idle(10000));
    EXPECT_EQ(ended.load(), 2);
    EXPECT_EQ(values.StopFlag.load(), 1) << "the slot's stop and the flag disagree";
}

// The real review worker over a shared URL list, its item pages served on loopback: every row goes
// to exactly one worker, and each is fetched once.
class ReviewWorkers : public Workers {
protected:
    void SetUp() override {
        Workers::SetUp();
        entries().review = program_harvests().review;
        ASSERT_TRUE(server.ok());
    }
    Text url(const std::string& name) { return server.base_url() + "/item/" + name; }
    // How often each path was asked for.
    std::map<std::string, int> fetched() {
        std::map<std::string, int> times;
        for (const RecordedRequest& request : server.requests())
            ++times[request.path()];
        return times;
    }

    HttpServer server;
};

TEST_F(ReviewWorkers, EachRowIsClaimedAndFetchedExactlyOnce) {
    // Pages that name no review service: the worker goes on with its next row.
    server.set_handler([](const RecordedRequest&) { return HttpResponse::text("no reviews"); });
    constexpr int kRows = 300;
    std::vector<std::vector<Text>> rows;
    for (int i = 0; i < kRows; ++i)
        rows.push_back({url("u" + std::to_string(i))});
    ops().append_rows(kUrls, rows);
    for (int i = 0; i < 3; ++i)
        click(kReviewButton);
    EXPECT_EQ(state().values.ReviewRunFlag.load(), 1);
    ASSERT_TRUE(state().WorkerHandles.wait_idle(60000));

    std::map<std::string, int> times = fetched();
    ASSERT_EQ(times.size(), static_cast<size_t>(kRows));
    for (int i = 0; i < kRows; ++i)
        EXPECT_EQ(times["/item/u" + std::to_string(i)], 1) << "row " << i;
    EXPECT_EQ(state().values.ReviewCursor.load(), kRows);

    // A click with nothing new starts a worker that ends at once; new rows continue the cursor.
    click(kReviewButton);
    ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
    EXPECT_EQ(server.requests().size(), static_cast<size_t>(kRows));
    ops().append_rows(kUrls, {{url("v0")}, {url("v1")}});
    click(kReviewButton);
    ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
    times = fetched();
    EXPECT_EQ(times.size(), static_cast<size_t>(kRows + 2));
    EXPECT_EQ(times["/item/v1"], 1);
    EXPECT_EQ(state().values.ReviewCursor.load(), kRows + 2);
}

TEST_F(ReviewWorkers, WorkerEndsAtAnAddressWithoutItemId) {
    // The third page names the review service, but its address carries no item ID.
    const std::string review_host = state().hosts.marketplace_review_host;
    server.set_handler([review_host](const RecordedRequest& request) {
        if (request.path() == "/item/no-item")
            return HttpResponse::text("see http://" + review_host + "/feedRateList.htm");
        return HttpResponse::text("no reviews");
    });
    ops().append_rows(kUrls, {{url("a")}, {url("b")}, {url("no-item")}, {url("c")}});
    click(kReviewButton);
    ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
    const std::map<std::string, int> times = fetched();
    EXPECT_EQ(times,
              (std::map<std::string, int>{{"/item/a", 1}, {"/item/b", 1}, {"/item/no-item", 1}}));
    EXPECT_EQ(state().values.ReviewCursor.load(), 3) << "the cursor is past the row given up on";
    EXPECT_EQ(messages(), (std::vector<Text>{gbk("id错误，请保证您填写的淘宝网页有ID显示")}));
}

// The member-ID run end to end: tasks fill column 2, reports come back in a chosen order.
class MemberIdRun : public BoundWindow {
protected:
    void SetUp() override {
        BoundWindow::SetUp();
        dir_ = std::filesystem::temp_directory_path() /
               ("zembra_member_id_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        path_ = dir_ / "out.txt";
        state().OutputPath = path_;
        state().OutputFile = file_open(path_, 4, 1);
        ASSERT_NE(state().OutputFile, 0);
    }
    void TearDown() override {
        if (state().OutputFile) file_close(state().OutputFile);
        BoundWindow::TearDown();
        std::filesystem::remove_all(dir_);
    }
    void fill_names(int count) {
        std::vector<std::vector<Text>> rows;
        for (int i = 0; i < count; ++i)
            rows.push_back({to_text(i + 1), "name" + to_text(i)});
        ops().append_rows(kNames, rows);
    }
    // Read past the program's own sharing rules: the run keeps the file open for writing.
    Text output() {
        std::ifstream in(path_, std::ios::binary);
        return Text(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path dir_;
    std::filesystem::path path_;
};

TEST_F(MemberIdRun, TwentyRowsEndAtTwentyOfTwentyInReportOrder) {
    fill_names(20);
    // Row r may finish only after row r + 1 has reported: reports come in reverse row order.
    std::atomic<int> turn{19};
    FeedbackRaiser raise = state().raise_feedback;
    state().raise_feedback = [raise, &turn](int code, int row) {
        raise(code, row);
        --turn;
    };
    entries().member_id = [&](Window& w, AppState&, int row) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (turn.load() != row && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        w.set_cell(kNames, row, 2, "id" + to_text(row));
    };
    click(kMemberIdButton);
    EXPECT_TRUE(state().pool.IsCreated());
    ASSERT_TRUE(pump_until([&] { return !state().pool.IsCreated(); }, 20s));

    EXPECT_EQ(ops().text(kProgress), "20/20");
    Text expected;
    for (int row = 19; row >= 0; --row)
        expected += "id" + to_text(row) + "\r\n";
    EXPECT_EQ(output(), expected);
    EXPECT_EQ(state().OutputFile, 0) << "the output file was not closed";
    EXPECT_EQ(state().PoolDoneCount, 0);
    EXPECT_EQ(ops().cell(kNames, 7, 2), "id7");
}

TEST_F(MemberIdRun, RowsImportedDuringARunNeitherEndItEarlyNorKeepItOpen) {
    fill_names(3);
    Gate release;
    entries().member_id = [&](Window& w, AppState&, int row) {
        release.wait();
        w.set_cell(kNames, row, 2, "id" + to_text(row));
    };
    click(kMemberIdButton);
    ASSERT_TRUE(state().pool.IsCreated());
    ops().append_rows(kNames, {{"4", "late"}, {"5", "later"}});
    release.release();
    ASSERT_TRUE(pump_until([&] { return !state().pool.IsCreated(); }, 20s));
    EXPECT_EQ(ops().text(kProgress), "3/3");
    EXPECT_EQ(state().OutputFile, 0);
    Text lines = output();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3);
}

TEST_F(MemberIdRun, OtherCodesChangeNothing) {
    fill_names(3);
    ops().set_cell(kNames, 0, 2, "x");
    const int codes[] = {0, 110, 112, -111, 1111};
    for (int code : codes) {
        state().raise_feedback(code, 0);
        pump_for(20ms);
        EXPECT_EQ(state().PoolDoneCount, 0) << code;
        EXPECT_EQ(ops().text(kProgress), "") << code;
    }
    EXPECT_EQ(output(), "");
    state().raise_feedback(kFeedbackRowDone, 0);
    ASSERT_TRUE(pump_until([&] { return state().PoolDoneCount == 1; }));
    EXPECT_EQ(ops().text(kProgress), "1/3");
    EXPECT_EQ(output(), "x\r\n");
}

TEST_F(MemberIdRun, TaskOverrunningItsLimitIsReportedEmptyAndTheRunEnds) {
    fill_names(3);
    ops().set_cell(kNames, 1, 2, "stale");  // left from an earlier run
    entries().member_id_time_limit_ms = 100;
    std::atomic<bool> hung_left{false};
    entries().member_id = [&](Window& w, AppState&, int row) {
        if (row == 1) {
            const auto end = std::chrono::steady_clock::now() + 10s;
            while (!current_run_stopped() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(1ms);
            w.set_cell(kNames, row, 2, "late");  // after being abandoned: dropped
            hung_left = true;
            return;
        }
        w.set_cell(kNames, row, 2, "id" + to_text(row));
    };
    click(kMemberIdButton);
    ASSERT_TRUE(pump_until([&] { return hung_left.load() && !state().pool.IsCreated(); }));
    pump_for(100ms);
    EXPECT_EQ(ops().text(kProgress), "3/3");
    EXPECT_EQ(ops().cell(kNames, 1, 2), "");
    EXPECT_EQ(state().OutputFile, 0) << "the run did not end";
    EXPECT_EQ(state().PoolDoneCount, 0);
    Text out = output();
    std::sort(out.begin(), out.end());  // order inside a run is free
    Text expected = "id0\r\nid2\r\n\r\n";
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(out, expected);
}

TEST_F(MemberIdRun, StartIsRefusedWhenNothingCouldEndTheRun) {
    entries().member_id = [](Window&, AppState&, int) {};
    click(kMemberIdButton);  // empty list
    EXPECT_FALSE(state().pool.IsCreated());
    fill_names(2);
    entries().member_id = nullptr;
    click(kMemberIdButton);  // no task plugged in
    EXPECT_FALSE(state().pool.IsCreated());
}

TEST_F(MemberIdRun, ASecondRunAppendsToTheOutputFileAgain) {
    const std::filesystem::path program_output = path_;
    std::filesystem::remove(program_output);
    file_close(state().OutputFile);
    state().OutputFile = file_open(program_output, 4, 1);
    fill_names(2);
    entries().member_id = [](Window& w, AppState&, int row) {
        w.set_cell(kNames, row, 2, "r" + to_text(row));
    };
    for (int run = 0; run < 2; ++run) {
        click(kMemberIdButton);
        ASSERT_TRUE(pump_until([&] { return state().OutputFile == 0; })) << "run " << run;
    }
    const Bytes bytes = file_read_all(program_output);
    Text text(bytes.begin(), bytes.end());
    std::sort(text.begin(), text.end());  // order inside a run is free
    Text expected = "r0\r\nr1\r\nr0\r\nr1\r\n";
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(text, expected);
    std::filesystem::remove(program_output);
}

// The end of a run waits for the pool while the window handles events; a run started in that wait
// must find the output file open for it, not have it closed afterwards.
TEST_F(MemberIdRun, RunStartedWhileTheLastOneEndsKeepsItsOutput) {
    const std::filesystem::path program_output = path_;
    std::filesystem::remove(program_output);
    fill_names(1);
    Gate busy;
    std::atomic<bool> taken{false};
    const auto hold = [&](int) {
        taken = true;
        busy.wait();
    };
    ASSERT_TRUE(state().pool.Create(1, hold, 0));
    ASSERT_TRUE(state().pool.Post(0));  // keeps the ending pool's worker from leaving at once
    ASSERT_TRUE(pump_until([&] { return taken.load(); }));
    QTimer::singleShot(30, [&] {
        entries().member_id = [](Window& w, AppState&, int row) {
            w.set_cell(kNames, row, 2, "new");
        };
        click(kMemberIdButton);
        busy.release();
    });
    handle_feedback(ops(), state(), kFeedbackRowDone, 0);  // the last row of the old run
    ASSERT_TRUE(pump_until([&] { return !state().pool.IsCreated() && state().OutputFile == 0; }));
    const Bytes bytes = file_read_all(program_output);
    EXPECT_EQ(Text(bytes.begin(), bytes.end()), "new\r\n");
    std::filesystem::remove(program_output);
}

}  // namespace

BOUND_WINDOW_TEST_MAIN()
