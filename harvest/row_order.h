#pragma once
// Keeps the rows that several workers add to one list in the order of their numbers, while the
// work between taking the numbers and showing the rows (storing them) runs on all workers at
// once. A worker takes its numbers together with a ticket and shows its rows when the ticket's
// turn comes; a ticket left unshown still passes the turn on, so no worker waits for ever.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

class RowOrder {
public:
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept
            : order_(std::exchange(other.order_, nullptr)), number_(other.number_) {}
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket() {
            if (order_ != nullptr) show([] {});
        }

        // Waits for this ticket's turn, runs `rows`, and passes the turn on.
        template <class Show>
        void show(Show&& rows) {
            RowOrder* order = std::exchange(order_, nullptr);
            if (order == nullptr) return;
            {
                std::unique_lock lock(order->mutex_);
                order->turn_.wait(lock, [&] { return order->shown_ == number_; });
                const Pass pass{*order};
                rows();
            }
            order->turn_.notify_all();
        }

    private:
        friend class RowOrder;
        Ticket(RowOrder& order, std::uint64_t number) : order_(&order), number_(number) {}
        RowOrder* order_;
        std::uint64_t number_;
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
        return Ticket(*this, taken_++);
    }

private:
    // The turn moves on even when showing throws.
    struct Pass {
        RowOrder& order;
        ~Pass() { ++order.shown_; }
    };

    std::mutex mutex_;
    std::condition_variable turn_;
    std::uint64_t taken_ = 0;
    std::uint64_t shown_ = 0;
};
