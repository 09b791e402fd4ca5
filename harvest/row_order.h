#pragma once
// Keeps the rows that several workers add to one list in the order of their numbers, while the
// work between taking the numbers and showing the rows (storing them) runs on all workers at
// once. A worker takes its numbers together with a ticket and hands the ticket its rows; they are
// added when the ticket's turn comes, by whichever thread ends the turn before, so nobody waits
// for a turn. A ticket dropped unshown still passes the turn on.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

#include "runtime/stop.h"

class RowOrder {
public:
    using Rows = std::function<void()>;

    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept
            : order_(std::exchange(other.order_, nullptr)),
              number_(other.number_),
              token_(std::move(other.token_)) {}
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket() {
            if (order_ != nullptr) show({});
        }

        // Runs `rows` in this ticket's turn, under the stop token of the thread that took the
        // ticket (the window drops what a stopped run adds): here when the turn has come,
        // otherwise later on the thread that ends the turn before it. Never waits.
        void show(Rows rows) {
            RowOrder* order = std::exchange(order_, nullptr);
            if (order != nullptr) order->arrive(number_, std::move(token_), std::move(rows));
        }

    private:
        friend class RowOrder;
        Ticket(RowOrder& order, std::uint64_t number, std::stop_token token)
            : order_(&order), number_(number), token_(std::move(token)) {}
        RowOrder* order_;
        std::uint64_t number_;
        std::stop_token token_;
    };

    RowOrder() = default;
    RowOrder(const RowOrder&) = delete;
    RowOrder& operator=(const RowOrder&) = delete;

    // Runs `numbers` (which takes the numbers, or returns false to take none) and hands out the
    // next ticket, in one step; nothing when `numbers` declined.
    template <class Numbers>
    std::optional<Ticket> take(Numbers&& numbers) {
        std::lock_guard lock(mutex_);
        if (!numbers()) return std::nullopt;
        return Ticket(*this, taken_++, current_stop_token());
    }

private:
    struct Turn {
        std::stop_token token;
        Rows rows;
    };
    void arrive(std::uint64_t number, std::stop_token token, Rows rows);

    std::mutex mutex_;
    std::map<std::uint64_t, Turn> ready_;  // shown before their turn came
    bool running_ = false;                 // a thread is running the turns that are due
    std::uint64_t taken_ = 0;
    std::uint64_t shown_ = 0;
};
