#pragma once
// Keeps a command-line run's rows in a results store, as the window keeps its own: one run per
// command, the rows of each answer page in one transaction before they are shown, and the review
// harvest's URL list with how far each row got. When the store fails the user is told once and the
// run goes on into its output file alone.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "harvest/answer_sink.h"
#include "store/results_store.h"

class StoreSink final : public AnswerSink {
public:
    // Opens the store (a postgresql:// address, or a SQLite file or folder, made when missing) and
    // begins the run; null after telling why.
    static std::unique_ptr<StoreSink> begin(const std::string& location, RunKind kind,
                                            const std::string& parameters,
                                            StoreOptions options = {});
    ~StoreSink() override = default;
    StoreSink(const StoreSink&) = delete;
    StoreSink& operator=(const StoreSink&) = delete;

    std::int64_t run() const { return run_; }
    // The review harvest's URL list, before its workers start.
    bool put_urls(const std::vector<Text>& addresses);
    // Finished, or stopped (interrupted, blocked).
    void end(bool finished);

    void page(const HarvestedPage& page) override;
    void url_claimed(int row) override;
    void url_done(int row) override;
    void reported(std::string_view service, std::string_view address,
                  std::string_view body) override;

private:
    StoreSink(std::unique_ptr<ResultsStore> store, std::int64_t run);
    void failed();

    std::unique_ptr<ResultsStore> store_;
    std::int64_t run_;
    std::atomic<bool> reported_{false};
};
