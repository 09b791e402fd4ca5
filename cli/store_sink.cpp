#include "cli/store_sink.h"

#include "cli/run_support.h"
#include "cli/store_place.h"
#include "store/harvested_page.h"

StoreSink::StoreSink(std::unique_ptr<ResultsStore> store, std::int64_t run)
    : store_(std::move(store)), run_(run) {}

std::unique_ptr<StoreSink> StoreSink::begin(const std::string& location, RunKind kind,
                                            const std::string& parameters, StoreOptions options) {
    auto store = open_store_to_write(location, options);
    if (!store) return nullptr;
    const std::int64_t run = store->begin_run(kind, parameters);
    if (run == 0) {
        report("cannot begin a run in the store: " + store->last_error());
        return nullptr;
    }
    report("run " + std::to_string(run) + " in the store " + store_location(location));
    return std::unique_ptr<StoreSink>(new StoreSink(std::move(store), run));
}

void StoreSink::failed() {
    if (reported_.exchange(true)) return;
    report("the store failed (" + store_->last_error() +
           "); the run goes on, its rows only in the output file");
}

bool StoreSink::put_urls(const std::vector<Text>& addresses) {
    if (store_->put_urls(run_, 0, addresses)) return true;
    failed();
    return false;
}

void StoreSink::end(bool finished) {
    if (!store_->end_run(run_, finished ? RunEnding::finished : RunEnding::stopped)) failed();
}

void StoreSink::page(const HarvestedPage& page) {
    if (!store_->write_page(answer_page(run_, page))) failed();
}

// Kept only when the store archives answers.
void StoreSink::reported(std::string_view service, std::string_view address,
                         std::string_view body) {
    if (!store_->write_page(report_answer(run_, service, address, body))) failed();
}

void StoreSink::url_claimed(int row) {
    if (!store_->set_url_state(run_, row, UrlState::claimed)) failed();
}

void StoreSink::url_done(int row) {
    if (!store_->set_url_state(run_, row, UrlState::done)) failed();
}
