#include "harvest/harvest_button.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/gbk.h"
#include "runtime/services.h"
#include "tests/support/memory_window.h"

namespace {

const Text kCollect = utf8_to_gbk("采集");
const Text kStop = utf8_to_gbk("停止");
const Text kNoKeyword = utf8_to_gbk("关键字没有填写!");
const Text kBadPrice = utf8_to_gbk("价格区间填写错误!");

// Disabled while a harvest runs, enabled again by Stop.
const char* const kLocked[] = {"编辑框_线程", "编辑框_关键字", "编辑框_过滤信用", "单选框2",
                               "单选框1",     "编辑框_低",     "编辑框_高"};
// Never touched by the button.
const char* const kFree[] = {"组合框1", "选择框1", "编辑框1"};

class HarvestButton : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { register_message_box({}); }

    // A new window as it opens, new program values, nothing recorded.
    void fresh() {
        window = std::make_unique<MemoryWindow>();
        values = std::make_unique<ProgramValues>();
        messages.clear();
        started_with.clear();
        stop_flag_at_stop.clear();
        caption_at_stop.clear();
        start_succeeds = true;
        window->set_text("按钮_采集", kCollect);
        window->set_text("编辑框1", "10");
        window->set_text("编辑框_线程", "1");
        window->set_text("编辑框_关键字", "shoes");
        register_message_box([this](const Text& text, int flags, const Text& caption) {
            messages.push_back(text);
            EXPECT_EQ(flags, 0);
            EXPECT_EQ(caption, default_message_box_caption());
            return 0;
        });
        control.start = [this](HarvestMode mode) {
            // The parameters must be in place before the worker exists.
            started_with.push_back({mode, values->StopFlag.load(), values->SearchKeyword});
            return start_succeeds;
        };
        control.stop = [this] {
            stop_flag_at_stop.push_back(values->StopFlag.load());
            caption_at_stop.push_back(window->text("按钮_采集"));
        };
    }

    void click() { harvest_button_click(*window, *values, control); }

    struct Start {
        HarvestMode mode;
        int stop_flag;
        Text keyword;
    };

    std::unique_ptr<MemoryWindow> window;
    std::unique_ptr<ProgramValues> values;
    HarvestWorkerControl control;
    bool start_succeeds = true;
    std::vector<Text> messages;
    std::vector<Start> started_with;
    std::vector<int> stop_flag_at_stop;
    std::vector<Text> caption_at_stop;
};

struct RefusedCase {
    const char* rule;
    const char* keyword;
    int mode;
    const char* low;
    const char* high;
    bool running;  // the click would have been a Stop
    const Text* message;
};

TEST_F(HarvestButton, RefusesWrongInputsOnStartAndOnStop) {
    const RefusedCase cases[] = {
        {"empty keyword", "", 0, "", "", false, &kNoKeyword},
        {"empty keyword blocks stop", "", 0, "", "", true, &kNoKeyword},
        {"keyword checked before prices", "", 0, "100", "50", false, &kNoKeyword},
        {"upper below lower", "shoes", 0, "100", "50", false, &kBadPrice},
        {"upper below lower blocks stop", "shoes", 0, "100", "50", true, &kBadPrice},
        {"upper below lower in shop mode", "", 1, "100", "50", false, &kBadPrice},
        {"decimal difference", "shoes", 0, "0.5", "0.4", false, &kBadPrice},
        {"just beyond the tolerance", "shoes", 0, "0.0000002", "", false, &kBadPrice},
        {"lower only", "shoes", 0, "5", "", false, &kBadPrice},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.rule);
        fresh();
        window->set_text("编辑框_关键字", c.keyword);
        window->set_selection("组合框1", c.mode);
        window->set_text("编辑框_低", c.low);
        window->set_text("编辑框_高", c.high);
        const Text caption = c.running ? kStop : kCollect;
        window->set_text("按钮_采集", caption);
        values->PageLimit = 77;
        values->StopFlag.store(c.running ? 0 : 1);

        click();

        EXPECT_EQ(messages, std::vector<Text>{*c.message});
        EXPECT_TRUE(started_with.empty());
        EXPECT_TRUE(stop_flag_at_stop.empty());
        EXPECT_EQ(window->text("按钮_采集"), caption);
        EXPECT_EQ(values->PageLimit, 77);
        EXPECT_EQ(values->StopFlag.load(), c.running ? 0 : 1);
        for (const char* name : kLocked)
            EXPECT_TRUE(window->enabled(name)) << name;
    }
}

struct PriceCase {
    const char* rule;
    const char* low;
    const char* high;
    bool mall_only;
    const char* filter;  // null: refused
};

TEST_F(HarvestButton, PricesDecideTheCheckAndTheFilter) {
    const PriceCase cases[] = {
        {"both empty", "", "", false, "&tab=all"},
        {"both empty, mall only", "", "", true, "&tab=mall"},
        {"range, mall only", "10", "100", true, "&filter=reserve_price%5B10%2C100%5D&tab=mall"},
        {"equal prices", "50", "50", false, "&filter=reserve_price%5B50%2C50%5D&tab=all"},
        {"upper only", "", "100", false, "&filter=reserve_price%5B%2C100%5D&tab=all"},
        {"upper below one passes the check, adds no filter", "", "0.5", false, "&tab=all"},
        {"decimals within the tolerance", "0.00000005", "", false, "&tab=all"},
        {"upper not a number", "", "x", true, "&tab=mall"},
        {"upper below lower", "100", "50", false, nullptr},
        {"lower above a non-number upper", "1", "x", false, nullptr},
    };
    for (const PriceCase& c : cases) {
        SCOPED_TRACE(c.rule);
        fresh();
        window->set_text("编辑框_低", c.low);
        window->set_text("编辑框_高", c.high);
        window->set_checked("选择框1", c.mall_only);
        values->FilterParameter = "old";

        click();

        if (c.filter) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(values->FilterParameter, c.filter);
            EXPECT_EQ(window->text("按钮_采集"), kStop);
        } else {
            EXPECT_EQ(messages, std::vector<Text>{kBadPrice});
            EXPECT_EQ(values->FilterParameter, "old");
            EXPECT_EQ(window->text("按钮_采集"), kCollect);
        }
    }
}

struct StartCase {
    const char* rule;
    const char* keyword;
    int mode;
    const char* pages;
    const char* threads;
    HarvestMode started;
    int page_limit;
    int thread_count;
};

TEST_F(HarvestButton, StartStoresTheParametersAndPicksTheWorker) {
    const StartCase cases[] = {
        {"keyword mode", "ab c", 0, "10", "1", HarvestMode::item_search, 10, 1},
        {"keyword kept as typed", " \xD6\xD0\xCE\xC4 ", 0, "3", "2", HarvestMode::item_search, 3,
         2},
        {"page limit not a number", "x", 0, "abc", "1", HarvestMode::item_search, 0, 1},
        {"leading number of the page box", "x", 0, "7pages", "4", HarvestMode::item_search, 7, 4},
        {"shop mode with an empty keyword", "", 1, "10", "1", HarvestMode::shop_items, 10, 1},
        {"any other selection is shop mode", "x", 3, "1", "0", HarvestMode::shop_items, 1, 0},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.rule);
        fresh();
        window->set_text("编辑框_关键字", c.keyword);
        window->set_selection("组合框1", c.mode);
        window->set_text("编辑框1", c.pages);
        window->set_text("编辑框_线程", c.threads);
        values->StopFlag.store(1);
        values->RunningUnits.store(5);
        values->SortParameter = "&sort=sale-desc";

        click();

        ASSERT_EQ(started_with.size(), 1u);
        EXPECT_EQ(started_with[0].mode, c.started);
        EXPECT_EQ(started_with[0].stop_flag, 0);
        EXPECT_EQ(started_with[0].keyword, c.keyword);
        EXPECT_EQ(values->SearchKeyword, c.keyword);
        EXPECT_EQ(values->PageLimit, c.page_limit);
        EXPECT_EQ(values->ThreadCount, c.thread_count);
        EXPECT_EQ(values->RunningUnits.load(), 0);
        EXPECT_EQ(values->SortParameter, "&sort=sale-desc");
        EXPECT_TRUE(stop_flag_at_stop.empty());
        EXPECT_EQ(window->text("按钮_采集"), kStop);
        for (const char* name : kLocked)
            EXPECT_FALSE(window->enabled(name)) << name;
        for (const char* name : kFree)
            EXPECT_TRUE(window->enabled(name)) << name;
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(HarvestButton, StopRestoresIdleAndEndsTheWorker) {
    // Start, Stop, Start, Stop: each click flips the state; a Stop sees StopFlag already set.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        click();
        ASSERT_EQ(window->text("按钮_采集"), kStop);
        EXPECT_EQ(values->StopFlag.load(), 0);
        click();
        EXPECT_EQ(window->text("按钮_采集"), kCollect);
        EXPECT_EQ(values->StopFlag.load(), 1);
        for (const char* name : kLocked)
            EXPECT_TRUE(window->enabled(name)) << name;
    }
    EXPECT_EQ(started_with.size(), 2u);
    EXPECT_EQ(stop_flag_at_stop, (std::vector<int>{1, 1}));
    EXPECT_EQ(caption_at_stop, (std::vector<Text>{kCollect, kCollect}));

    // A caption other than exactly "采集" means running.
    window->set_text("按钮_采集", kCollect + " ");
    click();
    EXPECT_EQ(started_with.size(), 2u);
    EXPECT_EQ(stop_flag_at_stop.size(), 3u);
    EXPECT_EQ(window->text("按钮_采集"), kCollect);
}

TEST_F(HarvestButton, AWorkerThatCouldNotStartLeavesTheStopCaption) {
    start_succeeds = false;
    click();
    EXPECT_EQ(started_with.size(), 1u);
    EXPECT_EQ(window->text("按钮_采集"), kStop);
    click();
    EXPECT_EQ(window->text("按钮_采集"), kCollect);
    EXPECT_EQ(stop_flag_at_stop.size(), 1u);
    EXPECT_TRUE(messages.empty());
}

}  // namespace
