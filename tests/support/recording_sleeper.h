#pragma once
// A sleeper that logs every wait (from any thread) and sleeps only a fraction of it.
#include <mutex>
#include <vector>

#include "harvest/sleeper.h"

class RecordingSleeper final : public Sleeper {
public:
    explicit RecordingSleeper(int divisor = 1000) : inner_(divisor) {}
    void wait(int ms) override {
        {
            std::lock_guard lock(mutex_);
            waits_.push_back(ms);
        }
        inner_.wait(ms);
    }
    std::vector<int> waits() {
        std::lock_guard lock(mutex_);
        return waits_;
    }
    // The waits of at least min_ms, in order (leaves out the short polls of hand-over frames).
    std::vector<int> waits_from(int min_ms) {
        std::vector<int> out;
        for (int ms : waits())
            if (ms >= min_ms) out.push_back(ms);
        return out;
    }

private:
    std::mutex mutex_;
    std::vector<int> waits_;
    ScaledSleeper inner_;
};
