// A run's stop signal: the scoped guard that installs it on a thread, and StopFlag read from it.
#include "runtime/stop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(StopScope, InstallsTheTokenForItsLifeAndPutsBackTheOneBefore) {
    std::stop_source outer, inner;
    {
        const StopScope a(outer.get_token());
        EXPECT_EQ(current_stop_token(), outer.get_token());
        {
            const StopScope b(inner.get_token());
            inner.request_stop();
            EXPECT_TRUE(current_run_stopped());
        }
        EXPECT_EQ(current_stop_token(), outer.get_token());
        EXPECT_FALSE(current_run_stopped());
        {
            const StopScope none{std::stop_token()};  // a report that must get through
            outer.request_stop();
            EXPECT_FALSE(current_run_stopped());
        }
        EXPECT_TRUE(current_run_stopped());
    }
    EXPECT_FALSE(current_stop_token().stop_possible()) << "the thread kept a run's token";
}

TEST(StopScope, EachThreadHasItsOwn) {
    std::stop_source run;
    const StopScope here(run.get_token());
    bool other_saw_it = true;
    std::thread([&] { other_saw_it = current_stop_token().stop_possible(); }).join();
    EXPECT_FALSE(other_saw_it);
}

TEST(StopSignal, FlagFollowsTheSignalOfTheCurrentRun) {
    // Each step stores a value, then the flag and whether the earlier run's token is stopped.
    const struct {
        int store;
        int flag;
        bool first_run_stopped;
    } steps[] = {
        {0, 0, false},  // a start while idle keeps the signal
        {1, 1, true},   // a stop stops the run's threads too
        {1, 1, true},   // a second stop changes nothing
        {0, 0, true},   // a new start: a fresh signal, the old run stays stopped
        {7, 1, true},   // any non-zero value stops
    };
    StopSignal flag;
    EXPECT_EQ(flag.load(), 0);
    const std::stop_token first_run = flag.source().get_token();
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        flag.store(steps[i].store);
        EXPECT_EQ(flag.load(), steps[i].flag);
        EXPECT_EQ(first_run.stop_requested(), steps[i].first_run_stopped);
        EXPECT_EQ(flag.source().stop_requested(), steps[i].flag == 1);
    }
}

TEST(StopSignal, ARunStartedAfterAStopIsNotStoppedByIt) {
    StopSignal flag;
    flag.store(1);
    flag.store(0);
    const std::stop_source second = flag.source();
    EXPECT_FALSE(second.stop_requested());
    flag.store(1);
    EXPECT_TRUE(second.stop_requested());
}

}  // namespace
