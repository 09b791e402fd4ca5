#include "harvest/sleeper.h"

#include <algorithm>

#include "runtime/services.h"

// wait_pumping keeps the window thread's messages handled and ends early for a stopped run.
void RealSleeper::wait(int ms) {
    wait_pumping(ms);
}

// A wait never shrinks to nothing, so a sped-up polling loop still yields the processor.
void ScaledSleeper::wait(int ms) {
    wait_pumping(ms > 0 ? std::max(1, ms / divisor_) : 0);
}
