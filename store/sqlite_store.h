#pragma once
// The results store in one SQLite file (WAL journal, synchronous=NORMAL: a committed page survives
// a crash of the program). Every call takes the store's lock, so workers may share one store.
// Pages and URL states that workers write at the same time are committed together in one
// transaction (each still all or nothing, and each call returns once its own write is committed),
// so a commit's fixed cost is shared among them.
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/results_store.h"
#include "store/sqlite_handle.h"

// "zembra.db" in the given folder (the output file's).
std::filesystem::path store_path(const std::filesystem::path& folder);

class SqliteStore : public ResultsStore {
public:
    // Opens or creates the file. A file that is no database or is damaged is renamed aside
    // (".corrupt-<time>" appended) and a fresh one made; notice() then tells where it went.
    // Null when no store can be had at all, with the reason in `error`.
    static std::unique_ptr<SqliteStore> open(const std::filesystem::path& path,
                                             StoreOptions options, std::string* error);

    // What the user should know about the opening (a file set aside); empty when nothing.
    const std::string& notice() const { return notice_; }
    const std::filesystem::path& path() const { return path_; }

    std::string last_error() const override;
    std::int64_t begin_run(RunKind kind, std::string_view parameters) override;
    bool end_run(std::int64_t run, RunEnding ending) override;
    bool write_page(const AnswerPage& page) override;
    std::vector<bool> write_pages(const std::vector<const AnswerPage*>& pages) override;
    bool keeps_answers() const override { return options_.keep_answers; }
    bool put_urls(std::int64_t run, int first_position,
                  const std::vector<Text>& addresses) override;
    bool set_url_state(std::int64_t run, int position, UrlState state,
                       std::string_view worker = {}) override;
    std::optional<UrlClaim> claim_url(std::int64_t run, std::string_view worker) override;
    std::vector<RunInfo> unfinished_runs() override;
    StoredRows rows(std::int64_t run) override;
    std::vector<StoredUrl> urls(std::int64_t run) override;
    std::vector<StoredAnswer> answers(std::int64_t run) override;
    std::vector<AnswerSource> answer_sources(std::int64_t run) override;
    // Every run, oldest first, with its row counts.
    std::vector<RunCounts> run_counts();

private:
    SqliteStore(std::filesystem::path path, StoreOptions options);
    int prepare();         // pragmas and schema; the SQLite result code
    int buyers_by_page();  // a file with a row a buyer turned into one with a row a page
    // One write waiting for its commit.
    struct Pending {
        const std::function<bool()>* write;
        bool done = false;
        bool ok = false;
    };
    // Runs the writes (statements without a transaction of their own) in a transaction shared
    // with the writes that came meanwhile; for each, whether it is committed.
    std::vector<bool> grouped(const std::vector<std::function<bool()>>& writes);
    bool grouped(const std::function<bool()>& write) {
        return grouped(std::vector<std::function<bool()>>{write}).front();
    }
    void commit_group(const std::vector<Pending*>& group);
    bool write_page_rows(const AnswerPage& page, std::string_view compressed);
    bool write_url_state(std::int64_t run, int position, UrlState state, std::string_view worker);
    bool fail(std::string_view what);
    bool fail_code(std::string_view what, int rc);
    // The statement in the slot, prepared on first use and reset for new binds.
    SqliteStatement& cached(std::unique_ptr<SqliteStatement>& slot, std::string_view sql);

    std::filesystem::path path_;
    StoreOptions options_;
    std::string notice_;
    mutable std::mutex mutex_;
    SqliteDb db_;
    std::string error_;
    std::mutex queue_mutex_;  // the writes waiting, and whether a group is being committed
    std::condition_variable committed_;
    std::vector<Pending*> queue_;
    bool committing_ = false;
    // The statements of every page, prepared once; declared after db_ so they go first.
    std::unique_ptr<SqliteStatement> insert_answer_, insert_item_, insert_buyers_, url_state_;
    std::string buyer_ids_;  // a page's IDs as bound, kept till its statement runs again
};
