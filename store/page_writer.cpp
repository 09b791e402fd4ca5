#include "store/page_writer.h"

PageWriter::PageWriter(ResultsStore& store, std::chrono::milliseconds gather)
    : store_(store), gather_(gather), thread_([this](std::stop_token stop) { run(stop); }) {}

PageWriter::~PageWriter() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

void PageWriter::write(AnswerPage page, std::string body, Then then) {
    page.body = {};  // it views the caller's answer, which goes on without us
    std::lock_guard lock(mutex_);
    if (queue_.empty()) first_arrived_ = std::chrono::steady_clock::now();
    queue_.push_back({std::move(page), std::move(body), std::move(then)});
    ++queued_;
    // Woken only to start the wait for a group, or when the group is full.
    if (queue_.size() == 1 || queue_.size() >= kLargestGroup) arrived_.notify_one();
}

void PageWriter::drain() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = queued_;
    if (done_ >= target) return;
    ++draining_;
    arrived_.notify_one();
    written_.wait(lock, [&] { return done_ >= target; });
    --draining_;
}

void PageWriter::run(const std::stop_token& stop) {
    std::vector<Queued> group;
    std::vector<const AnswerPage*> pages;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            arrived_.wait(lock, stop, [&] { return !queue_.empty(); });
            if (queue_.empty()) return;  // stopped, nothing left
            // Others may join until the first one has waited long enough; a drain, a full group
            // or the end does not wait.
            arrived_.wait_until(lock, stop, first_arrived_ + gather_,
                                [&] { return draining_ > 0 || queue_.size() >= kLargestGroup; });
            group.swap(queue_);
        }
        pages.clear();
        for (Queued& queued : group) {
            queued.page.body = queued.body;
            pages.push_back(&queued.page);
        }
        const std::vector<bool> stored = store_.write_pages(pages);
        for (size_t i = 0; i < group.size(); ++i)
            if (group[i].then) group[i].then(i < stored.size() && stored[i]);
        const auto written = group.size();
        group.clear();
        std::lock_guard lock(mutex_);
        done_ += written;
        written_.notify_all();
    }
}
