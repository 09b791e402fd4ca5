#pragma once
// Keeps the harvests' rows in the results store beside the window lists. Item searches and shop
// item harvests get one run each; the review workers started by 按钮3_批量获取 share one run from
// the first worker's start until the last one ends, together with the URL list and how far each row
// got. Item and shop pages are written on the harvest threads before their rows are shown; review
// pages are written behind the workers by a writer thread, which shows their rows once committed.
// When the store fails, the user is told once and the harvests go on into the window lists alone.
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "harvest/answer_sink.h"
#include "harvest/program_values.h"
#include "store/results_store.h"

class Window;

class ResultsRecorder {
public:
    // `report` shows a message (UTF-8) to the user without waiting for it to be read; a null store
    // records nothing.
    ResultsRecorder(std::unique_ptr<ResultsStore> store,
                    std::function<void(const std::string&)> report);
    ~ResultsRecorder();
    ResultsRecorder(const ResultsRecorder&) = delete;
    ResultsRecorder& operator=(const ResultsRecorder&) = delete;

    ResultsStore* store() const { return store_.get(); }

    // A sink for one item search with the given parameters; its run ends when the sink goes.
    // Null without a store.
    std::unique_ptr<AnswerSink> item_search_run(const ProgramValues& values);
    // The same for one shop item harvest over the shops 列表框_店铺 lists now.
    std::unique_ptr<AnswerSink> shop_items_run(Window& window);

    // A review worker starts: the first one begins the run (or goes on with a restored one) and
    // stores the URL list it will work through. Null without a store.
    AnswerSink* join_reviews(Window& window);
    // A review worker ended; the last one ends the run: finished when every URL row was taken.
    void leave_reviews(Window& window, const ProgramValues& values);
    // The next review workers go on with a run restored after an unclean end, whose first
    // `stored_urls` URL rows are in the store already.
    void resume_reviews(std::int64_t run, int stored_urls);

    // Tells the user about a failed write, once per program.
    void failed(const std::string& reason);

private:
    class RunSink;
    class ReviewSink;

    std::unique_ptr<ResultsStore> store_;
    std::function<void(const std::string&)> report_;
    std::atomic<bool> reported_{false};

    std::mutex reviews_mutex_;
    std::unique_ptr<ReviewSink> reviews_;
    int review_workers_ = 0;
};

// "name=value" lines of an item search's parameters as typed (UTF-8).
std::string item_search_parameters(const ProgramValues& values);
// "shop=address" lines of the shops a shop item harvest reads (UTF-8).
std::string shop_items_parameters(Window& window);

// The recorder over the SQLite file. A store that cannot be opened is reported and the recorder
// keeps nothing; a damaged file set aside is reported too.
std::shared_ptr<ResultsRecorder> open_results(const std::filesystem::path& file,
                                              StoreOptions options,
                                              std::function<void(const std::string&)> report);

// The window's store file for the settings' [store] location: none, "zembra.db" beside the output
// file; a folder, its "zembra.db"; otherwise the file named. A postgresql:// address serves the
// command line only: the window keeps its default file and `notice` (UTF-8) says so.
std::filesystem::path results_file(const std::string& location,
                                   const std::filesystem::path& output_folder, std::string& notice);
