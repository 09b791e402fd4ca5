#include "runtime/services.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "runtime/stop.h"

namespace {

using Clock = std::chrono::steady_clock;

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// The generator's rule stepped by hand: state = state * 214013 + 2531011 mod 2^32.
std::vector<int> lcg(std::uint32_t state, int n) {
    std::vector<int> out;
    for (int i = 0; i < n; ++i) {
        state = static_cast<std::uint32_t>(state * 214013ull + 2531011ull);
        out.push_back(static_cast<int>((state >> 16) & 0x7FFF));
    }
    return out;
}

std::vector<int> draw(int n) {
    std::vector<int> out;
    for (int i = 0; i < n; ++i)
        out.push_back(random_int(0, 32767));
    return out;
}

TEST(Random, SequencesFromSeeds) {
    random_seed(1);
    EXPECT_EQ(draw(5), (std::vector<int>{41, 18467, 6334, 26500, 19169}));
    for (std::uint32_t seed : {0u, 12345u, 0xFFFFFFFFu}) {
        random_seed(seed);
        EXPECT_EQ(draw(8), lcg(seed, 8)) << seed;
    }
    std::set<std::vector<int>> unseeded;  // seeds drawn within one tick still differ
    for (int i = 0; i < 5; ++i) {
        random_seed();
        unseeded.insert(draw(4));
    }
    EXPECT_EQ(unseeded.size(), 5u);
}

TEST(Random, BoundsMapTheDraw) {
    struct {
        long long min, max, low, span;  // expected: low + r % (span + 1)
    } cases[] = {
        // clang-format off
        {10, 20, 10, 10}, {20, 10, 10, 10}, {-5, 3, 0, 3}, {0, 1, 0, 1}, {1000, 1099, 1000, 99},
        {0, 2147483647, 0, 2147483646}, {7, 2147483647, 7, 2147483640}, {0, 99999999999LL, 0, 2147483646},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        random_seed(99);
        for (int r : lcg(99, 6))
            EXPECT_EQ(random_int(c.min, c.max), c.low + r % (c.span + 1));
    }
    random_seed(1);  // equal bounds give the value without drawing
    EXPECT_EQ(random_int(5, 5), 5);
    EXPECT_EQ(random_int(-3, -8), 0);
    EXPECT_EQ(random_int(0, 32767), 41);
}

TEST(Random, EachThreadHasItsOwnState) {
    random_seed(12345);
    int other_first = -1;
    std::thread([&] { other_first = random_int(0, 32767); }).join();
    EXPECT_EQ(other_first, 41);  // a fresh thread starts at state 1
    std::thread([] { random_seed(1); }).join();
    EXPECT_EQ(random_int(0, 32767), lcg(12345, 1)[0]);
}

TEST(Sleep, WaitsAndStopEndsLongWaits) {
    auto start = Clock::now();
    const std::uint32_t tick = tick_ms();
    sleep_ms(-100);
    sleep_ms(30);
    EXPECT_GE(elapsed_ms(start), 30);
    EXPECT_GE(tick_ms() - tick, 29u);
    for (bool pumping : {false, true}) {
        std::stop_source source;
        std::thread sleeper([&] {
            set_current_stop_token(source.get_token());
            pumping ? wait_pumping(600000) : sleep_ms(600000);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        start = Clock::now();
        source.request_stop();
        sleeper.join();
        EXPECT_LT(elapsed_ms(start), 10000) << (pumping ? "wait_pumping" : "sleep_ms");
    }
}

TEST(WaitPumping, PumpsOnlyOnRegisteringThread) {
    std::atomic<int> calls{0}, largest{-1};
    register_message_pump([&](int max_ms) {
        ++calls;
        largest = std::max(largest.load(), max_ms);
    });
    auto start = Clock::now();
    wait_pumping(40);
    EXPECT_GE(elapsed_ms(start), 40);
    EXPECT_GE(calls.load(), 1);
    EXPECT_TRUE(largest >= 0 && largest <= 40) << largest;
    calls = 0;
    wait_pumping(0);
    EXPECT_EQ(calls.load(), 1);  // pending messages are handled even without waiting
    calls = 0;
    std::thread([] { wait_pumping(20); }).join();
    register_message_pump({});
    start = Clock::now();
    wait_pumping(20);
    EXPECT_EQ(calls.load(), 0);
    EXPECT_GE(elapsed_ms(start), 20);
}

TEST(MessageBox, HandlerOrStderr) {
    Text text, caption;
    int flags = -1;
    register_message_box([&](const Text& t, int f, const Text& c) {
        text = t, flags = f, caption = c;
        return 6;
    });
    EXPECT_EQ(message_box(42), 6);
    EXPECT_EQ(text, "42");
    EXPECT_EQ(caption, "\xD0\xC5\xCF\xA2\xA3\xBA");  // 信息：
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(message_box(Text("\xB4\xED"), 4096, Text("t")), 6);
    EXPECT_EQ(text + caption + std::to_string(flags), "\xB4\xEDt4096");
    register_message_box({});
    testing::internal::CaptureStderr();
    EXPECT_EQ(message_box(Text("\xB4\xED")), 0);  // 错
    EXPECT_NE(testing::internal::GetCapturedStderr().find("\xE9\x94\x99"), std::string::npos);
}

}  // namespace
