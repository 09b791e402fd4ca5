#include "harvest/sleeper.h"

#include <algorithm>

#include "runtime/services.h"
#include "runtime/stop.h"

namespace {
// Waits in short steps so a stopped run leaves promptly.
void wait_stoppable(long long ms) {
    const std::uint32_t start = tick_ms();
    while (!current_run_stopped()) {
        const long long elapsed = static_cast<std::uint32_t>(tick_ms() - start);
        if (elapsed >= ms) break;
        wait_pumping(std::min<long long>(ms - elapsed, 50));
    }
}
}  // namespace

void RealSleeper::wait(int ms) { wait_stoppable(ms); }

void ScaledSleeper::wait(int ms) { wait_stoppable(ms / divisor_); }
