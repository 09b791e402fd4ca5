#include "cli/queue_run.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "cli/cli_window.h"
#include "cli/exit_codes.h"
#include "cli/export_run.h"
#include "cli/progress.h"
#include "cli/run_support.h"
#include "cli/store_place.h"
#include "harvest/controls.h"
#include "harvest/harvest_context.h"
#include "harvest/review_harvest.h"
#include "harvest/sleeper.h"
#include "runtime/gbk.h"
#include "runtime/list_file.h"
#include "runtime/services.h"
#include "runtime/stop.h"
#include "store/harvested_page.h"
#include "store/postgres_store.h"

namespace {

constexpr int kIdleWaitMs = 500;

std::unique_ptr<PostgresStore> connect(const std::string& store, int lease_seconds = 60,
                                       StoreOptions options = {}) {
    if (!postgres_address(store)) {
        report(store.empty() ? "no store given (--store postgresql://...)"
                             : "the store must be a postgresql:// address");
        return nullptr;
    }
    auto db = std::make_unique<PostgresStore>(store, lease_seconds, options);
    if (!db->ok()) {
        report("cannot use the store: " + db->last_error());
        return nullptr;
    }
    return db;
}

std::string process_name() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    return std::string(host) + ":" + std::to_string(::getpid());
}

// Renews the leases of the addresses this process holds, a third of the lease time apart.
class LeaseKeeper {
public:
    LeaseKeeper(PostgresStore& store, std::int64_t run, int lease_seconds)
        : store_(store), run_(run), interval_(std::chrono::milliseconds(lease_seconds * 1000 / 3)) {
        thread_ = std::thread([this] { keep(); });
    }
    ~LeaseKeeper() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    LeaseKeeper(const LeaseKeeper&) = delete;
    LeaseKeeper& operator=(const LeaseKeeper&) = delete;

    void hold(const std::string& worker, int position) {
        std::lock_guard lock(mutex_);
        held_[worker] = position;
    }
    void release(const std::string& worker) {
        std::lock_guard lock(mutex_);
        held_.erase(worker);
    }

private:
    void keep() {
        std::unique_lock lock(mutex_);
        while (!done_) {
            wake_.wait_for(lock, interval_);
            if (done_) break;
            const auto held = held_;
            lock.unlock();
            for (const auto& [worker, position] : held)
                store_.renew_lease(run_, position, worker);
            lock.lock();
        }
    }

    PostgresStore& store_;
    std::int64_t run_;
    std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::string, int> held_;
    bool done_ = false;
    std::thread thread_;
};

// The answer pages of one address, held until the address is done and stored whole with them.
class AddressPages final : public AnswerSink {
public:
    AddressPages(PostgresStore& store, std::int64_t run, bool keep_bodies)
        : store_(store), run_(run), keep_bodies_(keep_bodies) {}

    void page(const HarvestedPage& page) override {
        AnswerPage kept = answer_page(run_, page);
        kept.body = {};
        if (keep_bodies_) kept.body = bodies_.emplace_back(page.body);
        pages_.push_back(std::move(kept));
    }
    void url_claimed(int) override {}
    void url_done(int) override {}
    // An answer saved for a report of a changed format is archived at once, as in a plain run,
    // though the address goes back to the queue.
    void reported(std::string_view service, std::string_view address,
                  std::string_view body) override {
        if (!store_.write_page(report_answer(run_, service, address, body)))
            report("cannot store the answer saved for the report: " + store_.last_error());
    }

    const std::vector<AnswerPage>& pages() const { return pages_; }

private:
    PostgresStore& store_;
    std::int64_t run_;
    bool keep_bodies_;
    std::deque<std::string> bodies_;  // the pages' bodies view these; a deque never moves them
    std::vector<AnswerPage> pages_;
};

}  // namespace

int run_review_queue(const QueueOptions& options, const RunPlace& place) {
    std::optional<std::vector<Text>> addresses;
    if (!options.url_file.empty()) {
        const std::optional<std::string> text = read_list_input(options.url_file, "URL file");
        if (!text) return kExitBadInput;
        addresses.emplace();
        for_each_list_line(*text, [&](std::string_view line) { addresses->emplace_back(line); });
    }
    if (!ready_to_run(place, false)) return kExitBadInput;
    const auto store = connect(options.store, options.lease_seconds, {place.keep_answers});
    if (!store) return kExitBadInput;
    bool loaded = false;
    const std::int64_t run =
        store->open_queue(options.queue, addresses ? &*addresses : nullptr, &loaded);
    if (run == 0) {
        report("cannot open queue " + options.queue + ": " + store->last_error() +
               (addresses ? "" : " (load it with --urls FILE)"));
        return kExitBadInput;
    }
    if (loaded)
        report("queue " + options.queue + ": " + std::to_string(addresses->size()) +
               " addresses loaded");
    else if (addresses)
        report("queue " + options.queue + " was loaded before; its list is used, not the file");
    const std::string name = process_name();
    const std::int64_t worker_id = store->join_run(run, name);
    if (worker_id == 0) {
        report("cannot join queue " + options.queue + ": " + store->last_error());
        return kExitBadInput;
    }

    MessageLog messages;
    Progress progress(place.progress, place.terminal);
    LeaseKeeper leases(*store, run, options.lease_seconds);
    std::atomic<long long> rows{0};
    std::atomic<bool> store_failed{false};
    MarketTrouble trouble;
    const auto work = [&](int index) {
        const std::string worker = name + "#" + std::to_string(index);
        while (!current_run_stopped() && !store_failed.load()) {
            const std::optional<UrlClaim> claim = store->claim_url(run, worker);
            if (!claim) {
                const int left = store->unfinished_urls(run);
                if (left <= 0) return;  // all done, or the store is gone
                // Claimed by others: wait for them to finish or for a lease to run out.
                sleep_ms(kIdleWaitMs);
                continue;
            }
            leases.hold(worker, claim->position);
            CliWindow window;
            ProgramValues values;
            values.ReviewRunFlag.store(1);
            window.append_rows(controls::kUrlList, {{claim->address}});
            CliWindow::Observer observer;
            observer.text = [&progress](std::string_view control, const Text&) {
                if (control == controls::kReviewPageLabel) progress.page();
            };
            follow_title(observer, progress);
            trouble.follow_login_page(observer, progress);
            window.set_observer(std::move(observer));
            RealSleeper sleeper;
            AddressPages pages(*store, run, place.keep_answers);
            HarvestContext ctx{window, values, place.hosts, sleeper, &pages};
            review_worker(ctx);
            leases.release(worker);
            trouble.note(values.WatchEnding.load());
            if (current_run_stopped() || trouble.happened()) {
                // Unfinished: back to the queue at once rather than after the lease, for
                // another process or a later run.
                store->set_url_state(run, claim->position, UrlState::open);
                return;
            }
            const int added =
                store->finish_address(run, claim->position, worker_id, worker, pages.pages());
            if (added < 0) {
                report("cannot store the buyers of " + gbk_to_utf8(claim->address) + ": " +
                       store->last_error());
                store_failed.store(true);
                return;
            }
            progress.set_rows(rows += added);
        }
    };
    const bool was_interrupted =
        run_on_threads(options.workers, work, [&trouble] { return trouble.happened(); });
    progress.finish();
    if (store_failed.load()) return kExitBadInput;
    if (trouble.happened()) return trouble.exit_code();
    if (was_interrupted) return kExitInterrupted;
    return messages.empty() ? kExitDone : kExitBadInput;
}

int run_list_runs(const std::string& store_address) {
    const auto store = connect(store_address);
    if (!store) return kExitBadInput;
    const std::vector<QueueSummary> queues = store->queues();
    std::set<std::int64_t> queue_runs;
    for (const QueueSummary& q : queues)
        queue_runs.insert(q.run);
    // Runs that are no queue's (a search, shop or review run given this store) as for a file.
    std::string listing;
    for (const RunCounts& c : store->run_counts())
        if (queue_runs.count(c.run.id) == 0) listing += run_line(c);
    // A listing cut short by a failed query is no listing.
    if (!store->last_error().empty()) {
        report("cannot read the runs: " + store->last_error());
        return kExitBadInput;
    }
    std::fputs(listing.c_str(), stdout);
    for (const QueueSummary& q : queues) {
        std::printf("run %lld  queue %s  addresses %d  done %d  claimed %d  open %d  buyers %d\n",
                    static_cast<long long>(q.run), q.queue.c_str(), q.open + q.claimed + q.done,
                    q.done, q.claimed, q.open, q.buyers);
        for (const QueueWorker& w : q.workers)
            std::printf("  process %s  addresses %d  rows %d\n", w.name.c_str(), w.addresses,
                        w.rows);
    }
    return std::fflush(stdout) == 0 ? kExitDone : kExitBadInput;
}
