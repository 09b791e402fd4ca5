#pragma once
// The pool of the page-3 run: N workers take posted values from a queue and run the task for each.
// A task with a time limit runs on a thread of its own; when it overruns, it is abandoned rather
// than killed: its stop token is set (so its network transfers abort and its reports are dropped)
// and its thread is left to finish on its own, the only thread the program abandons. The pool owns
// its workers: those still busy when a run ends are joined once they have left.
//
// Copies share one pool state; the last copy to go stops a running pool, waiting 1 ms.
#include <functional>
#include <memory>

class ThreadPool {
public:
    using Task = std::function<void(int value)>;

    ThreadPool();
    ThreadPool(const ThreadPool&) = default;
    ThreadPool& operator=(const ThreadPool&) = default;
    ~ThreadPool() = default;

    // False while running. workers < 1 counts as 1. time_limit_ms <= 0: the pool worker runs the
    // task itself, without limit. on_overrun, when given, runs on the pool worker with the value
    // of a task that was abandoned (or for which no thread could be started).
    bool Create(int workers, Task task, int time_limit_ms, Task on_overrun = {});
    // False when the pool is not running.
    bool Post(int value);
    // Stops taking values and waits up to wait_ms (-1: 25,000,000 ms) for the workers to leave,
    // returning as soon as they have; on the window thread the window keeps handling events
    // meanwhile. Values still queued are dropped. False when the pool is not running.
    bool Destroy(long long wait_ms = 5000);
    bool IsCreated() const;

    // Pool workers still alive, of the current run and of destroyed ones that have not left yet.
    int live_workers() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
