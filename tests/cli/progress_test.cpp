#include "cli/progress.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressText, LineAndJsonPerState) {
    const struct {
        ProgressState state;
        const char* line;
        const char* json;
    } cases[] = {
        {{0, 0, 0, 0, RunState::running, 0},
         "pages 0  rows 0  0.0 pages/s  running",
         R"({"event":"page","pages":0,"rows":0,"rate":0.0,"state":"running"})"},
        {{3, 10, 120, 1.5, RunState::running, 0},
         "pages 3/10  rows 120  2.0 pages/s  ETA 4s  running",
         R"({"event":"page","pages":3,"total_pages":10,"rows":120,"rate":2.0,"eta_s":4,"state":"running"})"},
        {{12, 10, 5, 4, RunState::running, 0},
         "pages 12/10  rows 5  3.0 pages/s  ETA 0s  running",
         R"({"event":"page","pages":12,"total_pages":10,"rows":5,"rate":3.0,"eta_s":0,"state":"running"})"},
        {{4, 0, 9, 8, RunState::throttled, 359.6},
         "pages 4  rows 9  0.5 pages/s  throttled (360s left)",
         R"({"event":"page","pages":4,"rows":9,"rate":0.5,"state":"throttled","pause_s":360})"},
        {{1, 2, 0, 1, RunState::blocked, 0},
         "pages 1/2  rows 0  1.0 pages/s  ETA 1s  blocked",
         R"({"event":"page","pages":1,"total_pages":2,"rows":0,"rate":1.0,"eta_s":1,"state":"blocked"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(progress_line(c.state), c.line);
        EXPECT_EQ(progress_json(c.state, "page"), c.json);
    }
}

}  // namespace
