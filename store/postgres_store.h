#pragma once
// The results store in PostgreSQL, for several processes (on several machines) sharing one URL
// list. Same tables as the embedded store, plus what sharing needs: named queues, a lease on every
// claimed address (a process that dies loses its addresses after the lease time-out), one row per
// process with its counts, and buyer rows unique per (run, item, buyer). Times come from the
// server's clock, so machines with skewed clocks still agree on leases. One connection, used by
// one call at a time.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "store/results_store.h"

struct pg_conn;

// One process working on a queue, as `runs` lists it.
struct QueueWorker {
    std::int64_t id = 0;
    std::string name;  // host:pid
    int addresses = 0;
    int rows = 0;
};

struct QueueSummary {
    std::int64_t run = 0;
    std::string queue;
    int open = 0, claimed = 0, done = 0;
    int buyers = 0;
    std::vector<QueueWorker> workers;
};

class PostgresStore final : public ResultsStore {
public:
    // Connects (a postgresql:// address or key=value pairs) and creates the tables when missing.
    // Check ok() after.
    explicit PostgresStore(const std::string& address, int lease_seconds = 60,
                           StoreOptions options = {});
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    bool ok() const { return ok_; }

    std::string last_error() const override;
    std::int64_t begin_run(RunKind kind, std::string_view parameters) override;
    bool end_run(std::int64_t run, RunEnding ending) override;
    bool write_page(const AnswerPage& page) override;
    bool put_urls(std::int64_t run, int first_position,
                  const std::vector<Text>& addresses) override;
    bool set_url_state(std::int64_t run, int position, UrlState state,
                       std::string_view worker = {}) override;
    // The lowest row that is open or whose lease ran out, claimed with a fresh lease.
    std::optional<UrlClaim> claim_url(std::int64_t run, std::string_view worker) override;
    std::vector<RunInfo> unfinished_runs() override;
    StoredRows rows(std::int64_t run) override;
    std::vector<StoredUrl> urls(std::int64_t run) override;
    std::vector<StoredAnswer> answers(std::int64_t run) override;
    std::vector<AnswerSource> answer_sources(std::int64_t run) override;
    bool keeps_answers() const override { return options_.keep_answers; }

    // The run of the named queue; when there is none yet and addresses are given, a new reviews
    // run holding them, made once however many processes ask at the same time. 0 when the queue
    // does not exist and nothing was given, or on failure.
    std::int64_t open_queue(const std::string& name, const std::vector<Text>* addresses,
                            bool* loaded = nullptr);
    // This process's row on the run; its id.
    std::int64_t join_run(std::int64_t run, const std::string& worker_name);
    // Keeps a claim alive; false when the row is no longer claimed by that worker.
    bool renew_lease(std::int64_t run, int position, std::string_view worker);
    // Rows that are not done yet (open or claimed).
    int unfinished_urls(std::int64_t run);
    // One address done, in one transaction: each of its answer pages with its buyers (a buyer
    // the run holds already keeps the row and answer it has), the row marked done and the
    // worker's counts. The number of buyer rows added; -1 on failure.
    int finish_address(std::int64_t run, int position, std::int64_t worker_id,
                       std::string_view worker, const std::vector<AnswerPage>& pages);
    std::vector<QueueSummary> queues();
    // Every run with its row counts, oldest first.
    std::vector<RunCounts> run_counts();

private:
    struct Result;
    Result exec(const std::string& sql, const std::vector<std::string>& params = {});
    bool command(const std::string& sql, const std::vector<std::string>& params = {});
    bool create_tables();
    // What the answers table keeps of the page's body: compressed, as bytea text, when answers
    // are kept, otherwise nothing. Made outside the lock, so that workers compress at once.
    std::string archived_body(const AnswerPage& page) const;
    // The page's row in the answers table, inside the caller's transaction: its id, empty on
    // failure.
    std::string insert_answer(const AnswerPage& page, const std::string& body);

    mutable std::mutex mutex_;
    pg_conn* conn_ = nullptr;
    bool ok_ = false;
    int lease_ms_;
    StoreOptions options_;
    std::string error_;
};
