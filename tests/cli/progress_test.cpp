#include "cli/progress.h"

#include <gtest/gtest.h>

namespace {

ProgressState state(long long pages, long long total_pages, long long rows, double seconds,
                    RunState run_state = RunState::running, double pause_left = 0,
                    long long units = 0, long long total_units = 0,
                    ProgressUnits names = ProgressUnits{}) {
    ProgressState s;
    s.pages = pages;
    s.total_pages = total_pages;
    s.rows = rows;
    s.seconds = seconds;
    s.state = run_state;
    s.pause_left = pause_left;
    s.units = units;
    s.total_units = total_units;
    s.names = names;
    return s;
}

TEST(ProgressText, LineAndJsonPerState) {
    const ProgressUnits shops{"shop", "shops"};
    const struct {
        ProgressState state;
        const char* event;
        const char* line;
        const char* json;
    } cases[] = {
        {state(0, 0, 0, 0), "page", "pages 0  rows 0  0.0 pages/s  running",
         R"({"event":"page","pages":0,"rows":0,"rate":0.0,"state":"running"})"},
        {state(3, 10, 120, 1.5), "page", "pages 3/10  rows 120  2.0 pages/s  ETA 4s  running",
         R"({"event":"page","pages":3,"total_pages":10,"rows":120,"rate":2.0,"eta_s":4,"state":"running"})"},
        {state(12, 10, 5, 4), "page", "pages 12/10  rows 5  3.0 pages/s  ETA 0s  running",
         R"({"event":"page","pages":12,"total_pages":10,"rows":5,"rate":3.0,"eta_s":0,"state":"running"})"},
        {state(4, 0, 9, 8, RunState::throttled, 359.6), "page",
         "pages 4  rows 9  0.5 pages/s  throttled (360s left)",
         R"({"event":"page","pages":4,"rows":9,"rate":0.5,"state":"throttled","pause_s":360})"},
        {state(1, 2, 0, 1, RunState::blocked), "state",
         "pages 1/2  rows 0  1.0 pages/s  ETA 1s  blocked",
         R"({"event":"state","pages":1,"total_pages":2,"rows":0,"rate":1.0,"eta_s":1,"state":"blocked"})"},
        // Items of a known number and pages of none: the ETA from the items done so far.
        {state(5, 0, 40, 2, RunState::running, 0, 2, 10), "page",
         "pages 5  items 2/10  rows 40  2.5 pages/s  ETA 8s  running",
         R"({"event":"page","pages":5,"items":2,"total_items":10,"rows":40,"rate":2.5,"eta_s":8,"state":"running"})"},
        // No item done yet: no ETA.
        {state(3, 0, 1, 1, RunState::running, 0, 0, 4), "page",
         "pages 3  items 0/4  rows 1  3.0 pages/s  running",
         R"({"event":"page","pages":3,"items":0,"total_items":4,"rows":1,"rate":3.0,"state":"running"})"},
        // A known page total wins over the items.
        {state(2, 4, 0, 1, RunState::running, 0, 1, 100), "page",
         "pages 2/4  items 1/100  rows 0  2.0 pages/s  ETA 1s  running",
         R"({"event":"page","pages":2,"total_pages":4,"items":1,"total_items":100,"rows":0,"rate":2.0,"eta_s":1,"state":"running"})"},
        // Shops counted, no pages: the shops and their rate only.
        {state(0, 0, 9, 5, RunState::running, 0, 1, 3, shops), "shop",
         "shops 1/3  rows 9  0.2 shops/s  ETA 10s  running",
         R"({"event":"shop","shops":1,"total_shops":3,"rows":9,"rate":0.2,"eta_s":10,"state":"running"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(progress_line(c.state), c.line);
        EXPECT_EQ(progress_json(c.state, c.event), c.json);
    }
}

}  // namespace
