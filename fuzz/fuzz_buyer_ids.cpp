// Buyer IDs from review answers, written as one page of the results store and read back: whatever
// bytes an ID holds (quotes, backslashes, control characters, GBK or not), the store gives back
// every buyer of the page, in order, as its text conversion would.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "runtime/gbk.h"
#include "store/sqlite_store.h"

namespace {

namespace fs = std::filesystem;

// One store for the whole session, in a folder of its own that goes with it.
struct Place {
    fs::path folder = fs::temp_directory_path() / ("zembra-fuzz-" + std::to_string(getpid()));
    std::unique_ptr<SqliteStore> store;
    Place() {
        fs::create_directories(folder);
        std::string error;
        store = SqliteStore::open(store_path(folder), {}, &error);
        FUZZ_CHECK(store != nullptr);
    }
    ~Place() {
        store.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Place place;
    // IDs one a line; a text holds no NUL, so one ends an ID too.
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<Text> ids(1);
    for (const char c : input) {
        if (c == '\n' || c == '\0')
            ids.emplace_back();
        else
            ids.back() += c;
    }
    const auto run = place.store->begin_run(RunKind::reviews, "");
    FUZZ_CHECK(run > 0);
    AnswerPage page;
    page.run = run;
    page.source = {"market-reviews", "http://item.example/item.htm?id=7", 1, 1};
    std::vector<BuyerRow> expected;
    for (size_t i = 0; i < ids.size(); ++i) {
        page.buyers.push_back({static_cast<std::int64_t>(i) + 1, ids[i], "7"});
        expected.push_back(
            {static_cast<std::int64_t>(i) + 1, utf8_to_gbk(gbk_to_utf8(ids[i])), "7"});
    }
    FUZZ_CHECK(place.store->write_page(page));
    FUZZ_CHECK(place.store->rows(run).buyers == expected);
    return 0;
}
