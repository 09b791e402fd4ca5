#include "store/results_store.h"

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
