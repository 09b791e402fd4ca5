// A results store that cannot be had or written: the user is told once, clearly, and the review
// harvest fills its list as it would without a store; what was stored before stays intact.
#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <set>

#include "app/harvest_entries.h"
#include "store/results_recorder.h"
#include "store/sqlite_store.h"
#include "tests/app/bound_window_fixture.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/marketplace.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kUrls = "超级列表框2_URL";
constexpr const char* kBuyers = "超级列表框1_user";

class ResultsFaults : public BoundWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        BoundWindow::SetUp();
        state().hosts = Marketplace::hosts();
        entries() = program_harvests();
        std::vector<std::vector<Text>> rows;
        for (int i = 0; i < 12; ++i) {
            MarketItem item;
            item.id = std::to_string(5100 + i);
            item.seller = "9" + item.id;
            item.kind = i % 2 == 0 ? MarketItem::Kind::Mall : MarketItem::Kind::Marketplace;
            item.pages = {{"a" + item.id, "b" + item.id}, {"c" + item.id}};
            for (const auto& page : item.pages)
                buyers.insert(page.begin(), page.end());
            market.add_item(item);
            rows.push_back({item.url()});
        }
        ops().append_rows(kUrls, rows);
    }

    void open_store(const fs::path& file) {
        state().results = open_results(file, {}, [this](const std::string& message) {
            std::lock_guard lock(reports_mutex);
            reports.push_back(message);
        });
    }

    // Three workers over the URL list; true when every buyer was listed.
    bool harvest_lists_everyone() {
        for (int i = 0; i < 3; ++i)
            click("按钮3_批量获取");
        if (!pump_until([&] { return state().WorkerHandles.live() == 0; }, 60s)) return false;
        const auto listed = column(kBuyers, 1);
        return listed.size() == buyers.size() &&
               std::set<Text>(listed.begin(), listed.end()) == buyers;
    }

    std::vector<std::string> reported() {
        std::lock_guard lock(reports_mutex);
        return reports;
    }

    Marketplace market;
    ProxyEnvironment proxy{market};
    TempFolder folder{"zembra-faults"};
    std::set<Text> buyers;
    std::mutex reports_mutex;
    std::vector<std::string> reports;
};

TEST_F(ResultsFaults, AStoreThatCannotBeHadAtStartIsReportedAndTheHarvestGoesOn) {
    const struct {
        const char* name;
        std::function<fs::path(const fs::path&)> prepare;  // the folder to open in
        const char* said;
        bool store_kept;
    } cases[] = {
        {"folder is a file",
         [](const fs::path& dir) {
             std::ofstream(dir / "plain") << "x";
             return dir / "plain";
         },
         "无法打开", false},
        {"damaged file",
         [](const fs::path& dir) {
             std::ofstream(store_path(dir)) << std::string(8192, 'z');
             return dir;
         },
         "已损坏", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder own{"zembra-start-fault"};
        {
            std::lock_guard lock(reports_mutex);
            reports.clear();
        }
        open_store(store_path(c.prepare(own.path())));
        const auto said = reported();
        ASSERT_EQ(said.size(), 1U);
        EXPECT_NE(said[0].find(c.said), std::string::npos) << said[0];
        EXPECT_EQ(state().results->store() != nullptr, c.store_kept);
        ops().clear_rows(kBuyers);
        state().values.ReviewCursor.store(0);
        EXPECT_TRUE(harvest_lists_everyone());
        EXPECT_EQ(reported().size(), 1U) << "nothing more to say";
        if (c.store_kept) {
            const auto runs = state().results->store()->unfinished_runs();
            EXPECT_TRUE(runs.empty()) << "the run was ended";
        }
    }
}

// A file-size limit stands for a full disk from the first write of the harvest on.
TEST_F(ResultsFaults, WritesThatFailAreReportedOnceWhileTheListStillFills) {
    open_store(store_path(folder.path()));
    ASSERT_NE(state().results->store(), nullptr);
    ResultsStore& store = *state().results->store();
    const auto earlier = store.begin_run(RunKind::reviews, "earlier");
    AnswerPage page;
    page.run = earlier;
    page.buyers = {{1, "kept", "1"}};
    ASSERT_TRUE(store.write_page(page));

    std::error_code ec;
    const auto wal = fs::file_size(folder / "zembra.db-wal", ec);
    bool listed = false;
    {
        const ScopedFileSizeLimit limit(
            std::max<rlim_t>(fs::file_size(store_path(folder.path())), ec ? 0 : wal));
        listed = harvest_lists_everyone();
    }

    EXPECT_TRUE(listed);
    const auto said = reported();
    ASSERT_EQ(said.size(), 1U);
    EXPECT_NE(said[0].find("采集照常进行"), std::string::npos) << said[0];
    state().results.reset();
    open_store(store_path(folder.path()));
    ASSERT_NE(state().results->store(), nullptr);
    EXPECT_EQ(reported().size(), 1U) << "the file is not damaged";
    const std::vector<BuyerRow> kept = {{1, "kept", "1"}};
    EXPECT_EQ(state().results->store()->rows(earlier).buyers, kept);
}

// Where the window keeps its store for each [store] location of the settings.
TEST_F(ResultsFaults, TheSettingsPlaceTheStoreFile) {
    TempFolder output("zembra-output");
    TempFolder chosen("zembra-chosen");
    struct Case {
        std::string location;
        fs::path file;
        bool notice;
    };
    const std::vector<Case> cases = {
        {"", output / "zembra.db", false},
        {chosen.path().string(), chosen / "zembra.db", false},
        {(chosen / "results.sqlite").string(), chosen / "results.sqlite", false},
        {"postgresql://user@db.example/zembra", output / "zembra.db", true},
    };
    for (const Case& c : cases) {
        std::string notice;
        EXPECT_EQ(results_file(c.location, output.path(), notice), c.file) << c.location;
        EXPECT_EQ(!notice.empty(), c.notice) << c.location << ": " << notice;
    }
    // The file named is where the rows go.
    std::string notice;
    open_store(results_file((chosen / "results.sqlite").string(), output.path(), notice));
    ASSERT_NE(state().results->store(), nullptr);
    EXPECT_TRUE(fs::exists(chosen / "results.sqlite"));
    EXPECT_FALSE(fs::exists(output / "zembra.db"));
}

}  // namespace

BOUND_WINDOW_TEST_MAIN()
