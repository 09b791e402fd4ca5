#pragma once
// Each harvest run carries one stop signal. Every thread the run starts installs the run's token
// with a StopScope; the network layer aborts transfers and the window drops control operations
// once it is set.
#include <mutex>
#include <stop_token>
#include <utility>

void set_current_stop_token(std::stop_token token);
std::stop_token current_stop_token();
inline bool current_run_stopped() {
    return current_stop_token().stop_requested();
}

// Makes token the calling thread's run token for the scope's life, then puts back the one before.
class StopScope {
public:
    explicit StopScope(std::stop_token token) : previous_(current_stop_token()) {
        set_current_stop_token(std::move(token));
    }
    ~StopScope() { set_current_stop_token(std::move(previous_)); }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

private:
    std::stop_token previous_;
};

// A run's stop signal read as a 0/1 flag: 1 once the run was told to stop. Storing 0 after a stop
// begins a new signal for the next run; storing anything else stops the current one.
class StopSignal {
public:
    int load() const;
    void store(int value);
    // The signal of the current run, to hand to the threads it starts.
    std::stop_source source() const;

private:
    mutable std::mutex mutex_;
    std::stop_source source_;
};
