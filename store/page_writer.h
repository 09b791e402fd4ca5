#pragma once
// Writes answer pages behind the harvest, on a thread of its own: the pages that arrive within a
// short while share one transaction, so a commit's fixed cost (the journal writes, the locks) is
// paid once for many pages, and no harvest thread waits for a disk. Each page's `then` runs on
// the writer's thread once the page is committed, or could not be, in the order the pages came;
// whoever shows rows only after their `then` never shows a row the store could lose.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/results_store.h"

class PageWriter {
public:
    using Then = std::function<void(bool stored)>;

    // `gather`: how long the first page of a transaction waits for others to join it.
    explicit PageWriter(ResultsStore& store,
                        std::chrono::milliseconds gather = std::chrono::milliseconds(20));
    // Writes what is queued, then ends the thread.
    ~PageWriter();
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;

    // Queues the page; `body` is the answer to archive (the page's own body is not kept), empty
    // when the store keeps no answers.
    void write(AnswerPage page, std::string body, Then then);
    // Returns once every page queued before the call is written and its `then` has run.
    void drain();

private:
    struct Queued {
        AnswerPage page;
        std::string body;
        Then then;
    };
    void run(const std::stop_token& stop);

    // More than this many pages waiting are written at once.
    static constexpr size_t kLargestGroup = 512;

    ResultsStore& store_;
    const std::chrono::milliseconds gather_;
    std::mutex mutex_;
    std::condition_variable_any arrived_;
    std::condition_variable written_;
    std::vector<Queued> queue_;
    std::chrono::steady_clock::time_point first_arrived_;
    std::uint64_t queued_ = 0;
    std::uint64_t done_ = 0;
    int draining_ = 0;
    std::jthread thread_;  // last: it starts once everything above is made
};
