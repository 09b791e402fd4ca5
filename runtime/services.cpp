#include "runtime/services.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "runtime/gbk.h"
#include "runtime/stop.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps, but a run's Stop ends the wait at once so a stopped worker never lingers in a long pause.
void sleep_stoppable(std::chrono::milliseconds duration) {
    if (duration.count() <= 0) return;
    std::stop_token token = current_stop_token();
    if (!token.stop_possible()) {
        std::this_thread::sleep_for(duration);
        return;
    }
    std::mutex mutex;
    std::condition_variable_any woken;
    std::unique_lock lock(mutex);
    woken.wait_for(lock, token, duration, [] { return false; });
}

struct Pump {
    std::mutex mutex;
    std::function<void(int)> pump;
    std::thread::id owner;
};

Pump& pump_slot() {
    static Pump* instance = new Pump;  // outlives threads still running at exit
    return *instance;
}

struct MessageBoxSlot {
    std::mutex mutex;
    MessageBoxHandler handler;
};

MessageBoxSlot& message_box_slot() {
    static MessageBoxSlot* instance = new MessageBoxSlot;  // outlives threads still running at exit
    return *instance;
}

thread_local std::uint32_t random_state = 1;
std::atomic<std::uint32_t> seed_offset{0};

}  // namespace

void sleep_ms(long long ms) {
    ms = std::max(ms, 0LL);
    sleep_stoppable(std::chrono::milliseconds(ms));
}

void register_message_pump(std::function<void(int max_ms)> pump) {
    std::lock_guard lock(pump_slot().mutex);
    pump_slot().pump = std::move(pump);
    pump_slot().owner = std::this_thread::get_id();
}

void wait_pumping(long long ms) {
    std::function<void(int)> pump;
    {
        std::lock_guard lock(pump_slot().mutex);
        if (pump_slot().pump && pump_slot().owner == std::this_thread::get_id())
            pump = pump_slot().pump;
    }
    if (!pump) {
        sleep_ms(ms);
        return;
    }
    // Pending messages are handled at least once, even for a zero wait.
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0LL));
    while (true) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pump(static_cast<int>(std::clamp<long long>(left.count(), 0, 50)));
        left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || current_run_stopped()) return;
        // A pump that returns at once when idle must not turn the wait into a busy loop.
        sleep_stoppable(std::min(left, std::chrono::milliseconds(2)));
    }
}

std::uint32_t tick_ms() {
    const auto since = Clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void random_seed(std::optional<std::uint32_t> seed) {
    if (seed) {
        random_state = *seed;
        return;
    }
    // Two unseeded calls within one tick still get different seeds.
    const std::uint32_t tick = tick_ms();
    std::uint32_t offset = seed_offset.load();
    while (!seed_offset.compare_exchange_weak(offset, offset + ((tick + offset) & 0xFF) + 100)) {
    }
    random_state = tick + offset;
}

int random_int(long long min, long long max) {
    min = std::clamp<long long>(min, 0, INT_MAX);
    max = std::clamp<long long>(max, 0, INT_MAX);
    if (min > max) std::swap(min, max);
    if (min == max) return static_cast<int>(min);
    random_state = random_state * 214013u + 2531011u;
    const long long r = (random_state >> 16) & 0x7FFF;
    long long span = max - min;
    if (span == 2147483647) span = 2147483646;
    return static_cast<int>(min + r % (span + 1));
}

void register_message_box(MessageBoxHandler handler) {
    std::lock_guard lock(message_box_slot().mutex);
    message_box_slot().handler = std::move(handler);
}

Text default_message_box_caption() {
    return "\xD0\xC5\xCF\xA2\xA3\xBA"; /* 信息： */
}

int message_box_text(const Text& text, int flags, const Text& caption) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(message_box_slot().mutex);
        handler = message_box_slot().handler;
    }
    if (handler) return handler(text, flags, caption);
    const std::string line = gbk_to_utf8(caption) + " " + gbk_to_utf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return 0;
}
