#pragma once
// A gate the test opens; workers wait at it (for ten seconds at most, so no test hangs).
#include <chrono>
#include <condition_variable>
#include <mutex>

struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        cv.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return open; });
    }
};
