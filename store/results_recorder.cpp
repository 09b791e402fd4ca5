#include "store/results_recorder.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>

#include "harvest/controls.h"
#include "harvest/window.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/stop.h"
#include "store/harvested_page.h"
#include "store/page_writer.h"
#include "store/sqlite_store.h"
#include "store/store_location.h"

// One run's rows; the run ends with the sink, stopped when its run was.
class ResultsRecorder::RunSink : public AnswerSink {
public:
    RunSink(ResultsRecorder& owner, std::int64_t run) : owner_(owner), run_(run) {}
    ~RunSink() override {
        if (run_ == 0) return;
        const RunEnding ending = current_run_stopped() ? RunEnding::stopped : RunEnding::finished;
        if (!owner_.store_->end_run(run_, ending)) owner_.failed(owner_.store_->last_error());
    }
    RunSink(const RunSink&) = delete;
    RunSink& operator=(const RunSink&) = delete;

    void page(const HarvestedPage& page) override {
        if (run_ != 0 && !owner_.store_->write_page(answer_page(run_, page)))
            owner_.failed(owner_.store_->last_error());
    }
    void url_claimed(int) override {}
    void url_done(int) override {}
    void reported(std::string_view service, std::string_view address,
                  std::string_view body) override {
        if (run_ != 0 && !owner_.store_->write_page(report_answer(run_, service, address, body)))
            owner_.failed(owner_.store_->last_error());
    }

private:
    ResultsRecorder& owner_;
    std::int64_t run_;
};

// The review workers' shared run, with the URL list as far as it is stored.
class ResultsRecorder::ReviewSink : public AnswerSink {
public:
    ReviewSink(ResultsRecorder& owner, std::int64_t run, int stored_urls)
        : owner_(owner), run_(run), stored_urls_(stored_urls), writer_(*owner.store_) {
        // Going on with a run: the pages it stored are listed already.
        if (stored_urls > 0)
            for (const AnswerSource& source : owner_.store_->answer_sources(run))
                stored_pages_.insert({source.address, source.page});
    }

    std::int64_t run() const { return run_; }
    void attach(Window& window) { window_ = &window; }

    // Stores the URL rows added since the last look (all of them at the run's start).
    void store_new_urls() {
        std::lock_guard lock(urls_mutex_);
        if (window_ == nullptr) return;
        const int rows = window_->row_count(controls::kUrlList);
        if (rows <= stored_urls_) return;
        // In slices, so a long list never holds the window for long.
        constexpr int kSlice = 65536;
        while (stored_urls_ < rows) {
            const std::vector<Text> addresses = window_->column_cells(
                controls::kUrlList, 0, stored_urls_, std::min(kSlice, rows - stored_urls_));
            if (addresses.empty()) return;  // the list shrank meanwhile
            if (!owner_.store_->put_urls(run_, stored_urls_, addresses)) {
                owner_.failed(owner_.store_->last_error());
                return;
            }
            stored_urls_ += static_cast<int>(addresses.size());
        }
    }

    // URL states go with the next page any worker writes, so they cost no commit of their own.
    // One lost in a crash only has its row asked again on resume.
    void page(const HarvestedPage& page) override {
        page_then(page, [] {});
        writer_.drain();
    }
    // Written behind the workers; the rows are shown once their page is committed.
    void page_then(const HarvestedPage& page, std::function<void()> show) override {
        AnswerPage record = answer_page(run_, page);
        {
            std::lock_guard lock(urls_mutex_);
            record.url_states.swap(url_states_);
        }
        std::string body = owner_.store_->keeps_answers() ? std::string(page.body) : std::string();
        writer_.write(std::move(record), std::move(body),
                      [this, show = std::move(show)](bool stored) {
                          if (!stored) owner_.failed(owner_.store_->last_error());
                          show();
                      });
    }
    // Returns once every page handed before is stored and on its way to the window.
    void drain() { writer_.drain(); }
    void reported(std::string_view service, std::string_view address,
                  std::string_view body) override {
        if (!owner_.store_->write_page(report_answer(run_, service, address, body)))
            owner_.failed(owner_.store_->last_error());
    }
    bool stored_before(std::string_view address, int page) const override {
        return !stored_pages_.empty() && stored_pages_.count({Text(address), page}) > 0;
    }
    void url_claimed(int row) override {
        bool known = false;
        {
            std::lock_guard lock(urls_mutex_);
            known = row < stored_urls_;
        }
        if (!known) store_new_urls();  // rows imported while the run goes on
        std::lock_guard lock(urls_mutex_);
        url_states_.push_back({row, UrlState::claimed});
    }
    void url_done(int row) override {
        std::lock_guard lock(urls_mutex_);
        url_states_.push_back({row, UrlState::done});
    }
    // The URL states no page took along.
    void flush_url_states() {
        std::vector<UrlStateChange> states;
        {
            std::lock_guard lock(urls_mutex_);
            states.swap(url_states_);
        }
        for (const UrlStateChange& change : states)
            if (!owner_.store_->set_url_state(run_, change.position, change.state)) {
                owner_.failed(owner_.store_->last_error());
                return;
            }
    }

private:
    ResultsRecorder& owner_;
    const std::int64_t run_;
    std::mutex urls_mutex_;
    int stored_urls_;
    std::vector<UrlStateChange> url_states_;
    std::set<std::pair<Text, int>> stored_pages_;  // address and page; read-only once made
    Window* window_ = nullptr;
    PageWriter writer_;  // last: its thread may still call back while the rest goes
};

ResultsRecorder::ResultsRecorder(std::unique_ptr<ResultsStore> store,
                                 std::function<void(const std::string&)> report)
    : store_(std::move(store)), report_(std::move(report)) {}

ResultsRecorder::~ResultsRecorder() = default;

void ResultsRecorder::failed(const std::string& reason) {
    if (reported_.exchange(true) || !report_) return;
    report_(reason + "\n采集照常进行，之后的结果只在列表中，请及时导出。");
}

std::string item_search_parameters(const ProgramValues& values) {
    return "keyword=" + gbk_to_utf8(values.SearchKeyword) +
           "\nsort=" + gbk_to_utf8(values.SortParameter) +
           "\nfilter=" + gbk_to_utf8(values.FilterParameter) +
           "\npages=" + std::to_string(values.PageLimit) +
           "\nthreads=" + std::to_string(values.ThreadCount);
}

std::unique_ptr<AnswerSink> ResultsRecorder::item_search_run(const ProgramValues& values) {
    if (!store_) return nullptr;
    const std::int64_t run =
        store_->begin_run(RunKind::item_search, item_search_parameters(values));
    if (run == 0) failed(store_->last_error());
    return std::make_unique<RunSink>(*this, run);
}

std::string shop_items_parameters(Window& window) {
    std::string lines;
    const int shops = window.item_count(controls::kShopBox);
    for (int i = 0; i < shops; ++i)
        lines += (i == 0 ? "shop=" : "\nshop=") + gbk_to_utf8(window.item(controls::kShopBox, i));
    return lines;
}

std::unique_ptr<AnswerSink> ResultsRecorder::shop_items_run(Window& window) {
    if (!store_) return nullptr;
    const std::int64_t run = store_->begin_run(RunKind::shop_items, shop_items_parameters(window));
    if (run == 0) failed(store_->last_error());
    return std::make_unique<RunSink>(*this, run);
}

AnswerSink* ResultsRecorder::join_reviews(Window& window) {
    if (!store_) return nullptr;
    std::lock_guard lock(reviews_mutex_);
    if (!reviews_) {
        const std::int64_t run = store_->begin_run(RunKind::reviews, "");
        if (run == 0) {
            failed(store_->last_error());
            return nullptr;
        }
        reviews_ = std::make_unique<ReviewSink>(*this, run, 0);
    }
    ++review_workers_;
    reviews_->attach(window);
    // Before the worker claims its first row; the other workers wait here meanwhile.
    reviews_->store_new_urls();
    return reviews_.get();
}

void ResultsRecorder::leave_reviews(Window& window, const ProgramValues& values) {
    if (!store_) return;
    ReviewSink* sink = nullptr;
    {
        std::lock_guard lock(reviews_mutex_);
        sink = reviews_.get();
    }
    // The worker's rows are shown before it counts as ended (it is still counted, so the sink
    // stays).
    if (sink != nullptr) sink->drain();
    std::lock_guard lock(reviews_mutex_);
    if (!reviews_ || --review_workers_ > 0) return;
    const bool all_taken = values.ReviewCursor.load() >= window.row_count(controls::kUrlList);
    const RunEnding ending =
        all_taken && !current_run_stopped() ? RunEnding::finished : RunEnding::stopped;
    reviews_->flush_url_states();
    if (!store_->end_run(reviews_->run(), ending)) failed(store_->last_error());
    reviews_.reset();
    review_workers_ = 0;
}

void ResultsRecorder::resume_reviews(std::int64_t run, int stored_urls) {
    if (!store_) return;
    std::lock_guard lock(reviews_mutex_);
    reviews_ = std::make_unique<ReviewSink>(*this, run, stored_urls);
    review_workers_ = 0;
}

std::shared_ptr<ResultsRecorder> open_results(const std::filesystem::path& file,
                                              StoreOptions options,
                                              std::function<void(const std::string&)> report) {
    std::string error;
    std::unique_ptr<SqliteStore> store = SqliteStore::open(file, options, &error);
    if (!store) {
        if (report) report(error + "\n采集照常进行，结果只在列表中，请及时导出。");
        return std::make_shared<ResultsRecorder>(nullptr, std::move(report));
    }
    if (!store->notice().empty() && report) report(store->notice());
    return std::make_shared<ResultsRecorder>(std::move(store), std::move(report));
}

std::filesystem::path results_file(const std::string& location,
                                   const std::filesystem::path& output_folder,
                                   std::string& notice) {
    notice.clear();
    if (postgres_address(location)) {
        notice = "设置中的结果库 " + location +
                 " 是 PostgreSQL 地址，只供命令行使用；窗口的结果保存在 " +
                 store_path(output_folder).string() + "。";
        return store_path(output_folder);
    }
    return sqlite_store_file(location, output_folder);
}
