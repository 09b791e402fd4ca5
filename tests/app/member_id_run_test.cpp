// The member-ID run through the real window against the loopback marketplace's member lookup: names
// imported, IDs looked up by a pool of 编辑框2 workers, progress, the output file, an overrunning
// lookup, refused clicks; and the exactly-once reporting underneath.
#include "app/member_id_run.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>

#include "app/app_state.h"
#include "app/feedback.h"
#include "app/file_dialog.h"
#include "app/harvest_entries.h"
#include "app/startup.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/stop.h"
#include "tests/app/bound_window_fixture.h"
#include "tests/support/marketplace.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kNames = "超级列表框";
constexpr const char* kProgress = "标签15";
constexpr const char* kStart = "按钮5";
constexpr const char* kWorkers = "编辑框2";
constexpr const char* kLookupPath = "/member/user_info.htm";

// Lookups that wait at the marketplace until released, counting how many wait at once. Shared
// with the server's connection threads, which may outlive a test body.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = true;
    std::string held;  // only lookups whose address holds this wait; empty: all
    int waiting = 0;
    int most_waiting = 0;
    int pause_ms = 0;  // every lookup also takes this long

    void pass(const std::string& url) {
        std::unique_lock lock(mutex);
        ++waiting;
        most_waiting = std::max(most_waiting, waiting);
        cv.wait_for(lock, std::chrono::milliseconds(pause_ms));
        if (held.empty() || url.find(held) != std::string::npos)
            cv.wait_for(lock, 10s, [&] { return open; });
        --waiting;
    }
    void set(bool is_open, std::string only = {}) {
        {
            std::lock_guard lock(mutex);
            open = is_open;
            held = std::move(only);
        }
        cv.notify_all();
    }
};

class MemberIdLookup : public BoundWindow {
protected:
    void SetUp() override {
        BoundWindow::SetUp();
        entries() = program_harvests();
        ASSERT_TRUE(market_.ok());
        state().hosts = Marketplace::hosts();
        market_.set_before_answer([gate = gate_](const std::string& url) { gate->pass(url); });
        dir_ =
            fs::temp_directory_path() / ("zembra_member_id_lookup_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // Where the program reopens its output file for a later run; each test process has its own.
        output_ = dir_ / output_file_path({}).filename();
        state().OutputPath = output_;
        fs::remove(output_);
        file_close(state().OutputFile);
        state().OutputFile = file_open(output_, 4, 1);
        ASSERT_NE(state().OutputFile, 0);
    }
    void TearDown() override {
        gate_->set(true);
        if (state().OutputFile) file_close(state().OutputFile);
        BoundWindow::TearDown();
        fs::remove_all(dir_);
        fs::remove(output_);
    }

    // Imports the names through 按钮6 from a Wangwang file ("name----password" lines).
    void import_names(const std::vector<Text>& names) {
        const fs::path file = dir_ / "names.txt";
        std::ofstream out(file, std::ios::binary);
        for (const Text& name : names)
            out << name << "----secret\r\n";
        out.close();
        state().file_dialog.set_answerer([file](const FileDialog&) { return file; });
        click("按钮6");
        ASSERT_EQ(ops().row_count(kNames), static_cast<int>(names.size()));
    }
    // Read past the program's own sharing rules: a run keeps the file open for writing.
    Text output() {
        std::ifstream in(output_, std::ios::binary);
        return Text(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static std::vector<Text> sorted_lines(const Text& text) {
        std::vector<Text> lines = text_split(text, "\r\n");
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    size_t lookups() {
        size_t n = 0;
        for (const std::string& url : market_.urls())
            n += url.find(kLookupPath) != std::string::npos;
        return n;
    }
    bool run_ended() {
        return pump_until([&] { return !state().pool.IsCreated(); }, 20s);
    }

    Marketplace market_;
    ProxyEnvironment proxy_{market_};
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    fs::path dir_;
    fs::path output_;
};

TEST_F(MemberIdLookup, TwentyNamesWithFourWorkersEndAtTwentyOfTwenty) {
    EXPECT_EQ(entries().member_id_time_limit_ms, kMemberIdTimeLimitMs);
    std::vector<Text> names, ids;
    for (int i = 0; i < 20; ++i) {
        names.push_back(i == 7 ? utf8_to_gbk("小明") : "tb_user" + to_text(i));
        // Every fifth name is unknown to the marketplace.
        ids.push_back(i % 5 == 4 ? Text() : to_text(3000000 + i));
        if (!ids.back().empty()) market_.add_member(names.back(), ids.back());
    }
    import_names(names);
    gate_->pause_ms = 20;
    ops().set_text(kWorkers, "4");
    click(kStart);
    EXPECT_TRUE(state().pool.IsCreated());
    ASSERT_TRUE(run_ended());

    EXPECT_EQ(ops().text(kProgress), "20/20");
    EXPECT_EQ(column(kNames, 1), names);
    EXPECT_EQ(column(kNames, 2), ids);
    EXPECT_EQ(state().OutputFile, 0) << "the output file was not closed";
    const Text out = output();
    EXPECT_EQ(text_split(out, "\r\n").size(), 20u);
    EXPECT_TRUE(out.ends_with("\r\n"));
    std::vector<Text> expected = ids;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted_lines(out), expected) << "one line per row, in the order the rows finished";
    EXPECT_EQ(lookups(), 20u);
    EXPECT_LE(gate_->most_waiting, 4);
}

TEST_F(MemberIdLookup, WorkerCountComesFromTheEditBox) {
    const struct {
        const char* text;
        int most;  // lookups that may run at once
    } cases[] = {{"2", 2}, {"0", 1}, {"abc", 1}};
    import_names({"a", "b", "c", "d", "e", "f"});
    gate_->pause_ms = 20;
    for (const auto& c : cases) {
        gate_->most_waiting = 0;
        ops().set_text(kWorkers, c.text);
        click(kStart);
        ASSERT_TRUE(run_ended()) << c.text;
        EXPECT_EQ(ops().text(kProgress), "6/6") << c.text;
        EXPECT_LE(gate_->most_waiting, c.most) << c.text;
    }
}

TEST_F(MemberIdLookup, OverrunningLookupIsReportedEmptyAndTheRunEnds) {
    market_.add_member("fast1", "11");
    market_.add_member("slow", "22");
    market_.add_member("fast2", "33");
    import_names({"fast1", "slow", "fast2"});
    ops().set_cell(kNames, 1, 2, "stale");
    entries().member_id_time_limit_ms = 300;
    gate_->set(false, "nick=slow");
    click(kStart);
    ASSERT_TRUE(run_ended());

    EXPECT_EQ(ops().text(kProgress), "3/3");
    EXPECT_EQ(column(kNames, 2), (std::vector<Text>{"11", "", "33"}));
    EXPECT_EQ(state().OutputFile, 0);
    EXPECT_EQ(sorted_lines(output()), (std::vector<Text>{"", "11", "33"}));

    // The abandoned lookup's late answer reaches nothing, and the next run starts as usual.
    gate_->set(true);
    pump_for(100ms);
    EXPECT_EQ(ops().cell(kNames, 1, 2), "");
    entries().member_id_time_limit_ms = kMemberIdTimeLimitMs;
    click(kStart);
    ASSERT_TRUE(run_ended());
    EXPECT_EQ(column(kNames, 2), (std::vector<Text>{"11", "22", "33"}));
}

TEST_F(MemberIdLookup, ClickDuringARunIsRefused) {
    import_names({"a", "b", "c"});
    gate_->set(false);
    click(kStart);
    ASSERT_TRUE(pump_until([&] { return lookups() == 3; }));  // all three wait at the gate
    for (int i = 0; i < 3; ++i)
        click(kStart);
    EXPECT_EQ(ops().text(kProgress), "0/3");
    gate_->set(true);
    ASSERT_TRUE(run_ended());
    pump_for(100ms);
    EXPECT_EQ(lookups(), 3u) << "a refused click posted rows";
    EXPECT_EQ(ops().text(kProgress), "3/3");
    EXPECT_EQ(text_split(output(), "\r\n").size(), 3u);
}

TEST_F(MemberIdLookup, ClickOnAnEmptyListDoesNothing) {
    const int file_before = state().OutputFile;
    click(kStart);
    EXPECT_FALSE(state().pool.IsCreated());
    pump_for(50ms);
    EXPECT_EQ(ops().text(kProgress), "");
    EXPECT_EQ(state().OutputFile, file_before);
    EXPECT_EQ(market_.request_count(), 0u);
}

// A full disk under the output file: every ID stays in the list, and each run says so once.
TEST_F(MemberIdLookup, FailedOutputWritesAreShownOncePerRunAndTheIdsStay) {
    market_.add_member("a", "1");
    market_.add_member("b", "2");
    market_.add_member("c", "3");
    import_names({"a", "b", "c"});
    file_close(state().OutputFile);
    state().OutputFile = file_open("/dev/full", 2, 1);
    ASSERT_NE(state().OutputFile, 0);
    state().OutputPath = "/dev/full";  // where the second run reopens it
    const Text failed = gbk("写入淘宝买家.txt失败（磁盘已满或不可写），本次结果仍保留在列表中");
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        click(kStart);
        ASSERT_TRUE(run_ended());
        EXPECT_EQ(ops().text(kProgress), "3/3");
        EXPECT_EQ(column(kNames, 2), (std::vector<Text>{"1", "2", "3"}));
        EXPECT_EQ(messages(), std::vector<Text>(static_cast<size_t>(run), failed));
    }
}

TEST_F(MemberIdLookup, SecondRunAppendsItsLinesAfterTheFirst) {
    market_.add_member("a", "1");
    market_.add_member("b", "2");
    import_names({"a", "b"});
    click(kStart);
    ASSERT_TRUE(run_ended());
    ASSERT_EQ(state().OutputFile, 0);
    const Text first = output();
    market_.add_member("a", "5");  // the second run finds other IDs
    market_.add_member("b", "6");
    click(kStart);
    ASSERT_TRUE(run_ended());
    const Text out = output();
    ASSERT_TRUE(out.starts_with(first)) << out;
    EXPECT_EQ(sorted_lines(first), (std::vector<Text>{"1", "2"}));
    EXPECT_EQ(sorted_lines(out.substr(first.size())), (std::vector<Text>{"5", "6"}));
}

// The reporting wrappers on their own, in both orders of a race between a finished task and the
// pool abandoning it.
TEST_F(MemberIdLookup, EachRowReportsExactlyOnceWhicheverSideComesFirst) {
    ops().append_rows(kNames, {{"1", "a", ""}, {"2", "b", ""}});
    std::vector<int> reported;
    state().raise_feedback = [&reported](int code, int row) {
        EXPECT_EQ(code, kFeedbackRowDone);
        reported.push_back(row);
    };
    const struct {
        const char* order;
        bool task_first;
        const char* id;  // column 2 afterwards
    } cases[] = {
        {"task finishes, then the limit passes", true, "id"},
        {"limit passes, then the abandoned task finishes", false, ""},
    };
    for (const auto& c : cases) {
        reported.clear();
        ops().set_cell(kNames, 1, 2, "stale");
        RowReporting reporting = report_each_row_once(
            ops(), state(), [](Window& w, AppState&, int row) { w.set_cell(kNames, row, 2, "id"); },
            2);
        // The abandoned task runs on its own thread under its stopped token.
        auto abandoned_task = [&] {
            std::stop_source stop;
            stop.request_stop();
            auto done = std::async(std::launch::async, [&] {
                set_current_stop_token(stop.get_token());
                reporting.task(1);
            });
            ASSERT_TRUE(pump_until([&] { return done.wait_for(0s) == std::future_status::ready; }));
        };
        if (c.task_first) {
            reporting.task(1);
            reporting.on_overrun(1);
        } else {
            reporting.on_overrun(1);
            abandoned_task();
        }
        pump_for(20ms);
        EXPECT_EQ(reported, std::vector<int>{1}) << c.order;
        EXPECT_EQ(ops().cell(kNames, 1, 2), c.id) << c.order;
        // Later calls for the row, and rows outside the run, report nothing.
        reporting.on_overrun(1);
        reporting.on_overrun(2);
        reporting.on_overrun(-1);
        EXPECT_EQ(reported, std::vector<int>{1}) << c.order;
    }
}

TEST_F(MemberIdLookup, ClaimedReportArrivesAlthoughItsTaskIsAbandonedAfterwards) {
    ops().append_rows(kNames, {{"1", "a", "x"}, {"2", "b", "y"}});
    RowReporting reporting = report_each_row_once(
        ops(), state(), [](Window&, AppState&, int) {}, 2);
    // Both reports are raised while the task runs; the limit passes before the window sees them.
    std::stop_source stop;
    std::thread task_thread([&] {
        set_current_stop_token(stop.get_token());
        state().raise_feedback(kFeedbackRowDone, 1);  // a plain report is dropped then
        reporting.task(0);                            // the claimed one is not
    });
    task_thread.join();
    stop.request_stop();
    reporting.on_overrun(0);
    ASSERT_TRUE(pump_until([&] { return state().PoolDoneCount == 1; }));
    pump_for(50ms);
    EXPECT_EQ(state().PoolDoneCount, 1);
    EXPECT_EQ(ops().text(kProgress), "1/2");
    EXPECT_EQ(output(), "x\r\n");
}

}  // namespace

BOUND_WINDOW_TEST_MAIN()
