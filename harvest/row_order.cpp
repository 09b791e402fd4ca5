#include "harvest/row_order.h"

void RowOrder::arrive(std::uint64_t number, std::stop_token token, Rows rows) {
    std::unique_lock lock(mutex_);
    ready_.emplace(number, Turn{std::move(token), std::move(rows)});
    // The thread already running turns takes this one too when it is due.
    if (running_) return;
    running_ = true;
    for (auto due = ready_.find(shown_); due != ready_.end(); due = ready_.find(shown_)) {
        Turn turn = std::move(due->second);
        ready_.erase(due);
        lock.unlock();
        try {
            if (turn.rows) {
                const StopScope scope(std::move(turn.token));
                turn.rows();
            }
        } catch (...) {
            // The turn moves on even when showing throws; the next arrival runs the rest.
            lock.lock();
            ++shown_;
            running_ = false;
            throw;
        }
        lock.lock();
        ++shown_;
    }
    running_ = false;
}
