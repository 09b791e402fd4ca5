#include "store/results_store.h"

#include <chrono>

int url_cursor(const std::vector<StoredUrl>& urls) {
    int cursor = 0;
    for (const StoredUrl& url : urls) {
        if (url.state != UrlState::done) return url.position;
        cursor = url.position + 1;
    }
    return cursor;
}

std::vector<bool> ResultsStore::write_pages(const std::vector<const AnswerPage*>& pages) {
    std::vector<bool> stored;
    stored.reserve(pages.size());
    for (const AnswerPage* page : pages)
        stored.push_back(write_page(*page));
    return stored;
}

std::int64_t store_time_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

AnswerPage report_answer(std::int64_t run, std::string_view service, std::string_view address,
                         std::string_view body) {
    AnswerPage out;
    out.run = run;
    out.source = {std::string(service), Text(address), 1, store_time_ms()};
    out.body = body;
    out.report = true;
    return out;
}
