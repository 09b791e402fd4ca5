#include <gtest/gtest.h>

#include "store/results_store.h"

namespace {

struct CursorCase {
    const char* name;
    std::vector<UrlState> states;
    int cursor;
};

TEST(UrlCursor, IsTheLowestRowNotDone) {
    using enum UrlState;
    const CursorCase cases[] = {
        {"empty list", {}, 0},
        {"nothing done", {open, open}, 0},
        {"all done", {done, done, done}, 3},
        {"claimed row holds the cursor", {done, claimed, done, open}, 1},
        {"done out of order", {done, done, open, done}, 2},
    };
    for (const CursorCase& c : cases) {
        std::vector<StoredUrl> urls;
        for (size_t i = 0; i < c.states.size(); ++i)
            urls.push_back({static_cast<int>(i), "u" + std::to_string(i), c.states[i]});
        EXPECT_EQ(url_cursor(urls), c.cursor) << c.name;
    }
}

}  // namespace
