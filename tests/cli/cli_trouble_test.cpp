// zembra-cli when the marketplace refuses or changes its pages: exit code 2, "blocked" in the
// progress, the rows received before kept, the whole run stopped.
#include <chrono>

#include "runtime/gbk.h"
#include "tests/cli/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
using Kind = MarketItem::Kind;

class CliTrouble : public CliTest {
protected:
    // A mall item whose one review page comes at once.
    MarketItem mall_item() const {
        MarketItem item;
        item.id = "601";
        item.seller = "9601";
        item.spu = "5601";
        item.kind = Kind::Mall;
        item.pages = {{"m1", "m2"}};
        return item;
    }
    static MarketItem market_item(const std::string& id) {
        MarketItem item;
        item.id = id;
        item.seller = "9" + id;
        item.kind = Kind::Marketplace;
        item.pages = {{"t" + id}};
        return item;
    }
    void list(const std::vector<MarketItem>& items) {
        std::string file;
        for (const MarketItem& item : items) {
            market.add_item(item);
            file += item.url() + "\r\n";
        }
        write_bytes(dir / "urls.txt", file);
    }
    std::string out() const { return (dir / "out.txt").string(); }
    size_t asked(const std::string& path) const {
        size_t n = 0;
        for (const std::string& url : market.urls())
            if (url.find(path) != std::string::npos) ++n;
        return n;
    }
};

// Ten refusals in a row make the watch want the login page; a terminal has none, so the run ends
// there and tells where the check is.
TEST_F(CliTrouble, ALastingBlockEndsTheRunWithCodeTwo) {
    list({mall_item(), market_item("602"), market_item("603")});
    const struct {
        MarketBlock::Kind kind;
        std::string check;
    } cases[] = {
        {MarketBlock::Kind::Redirect, Marketplace::challenge_url()},
        // A refusal that names no check: the login page.
        {MarketBlock::Kind::Forbidden, Marketplace::hosts().login_start_url},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        market.clear_urls();
        market.set_block({c.kind, market_host::kReview, "x5sec=passed", -1});
        const ChildResult r =
            cli({"reviews", "--urls", (dir / "urls.txt").string(), "--out", out()});
        EXPECT_EQ(r.exit_code, 2) << r.err;
        EXPECT_NE(r.err.find("blocked: the marketplace asks for a check at " + c.check),
                  std::string::npos)
            << r.err;
        // The state changed as it happened, and the run ended in it.
        EXPECT_NE(r.err.find("{\"event\":\"state\","), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("\"state\":\"blocked\"}\n"), std::string::npos) << r.err;
        const size_t end = r.err.find("{\"event\":\"end\"");
        ASSERT_NE(end, std::string::npos) << r.err;
        EXPECT_NE(r.err.find("\"state\":\"blocked\"", end), std::string::npos) << r.err;
        // The mall item's rows came before the block and are kept; nothing was asked after it.
        EXPECT_EQ(read_bytes(out()), "m1\r\nm2\r\n");
        EXPECT_EQ(asked("/feedRateList.htm"), 10u);
        EXPECT_EQ(asked("id=603"), 0u);
        fs::remove(out());
    }
    market.clear_block();
}

// A review page that keeps coming without its marker is saved beside the output and reported;
// the other worker, in a six-minute throttle pause, stops with the run instead of waiting it out.
TEST_F(CliTrouble, ALastingUnknownAnswerEndsTheWholeRunWithCodeTwo) {
    MarketItem changed = mall_item();
    changed.id = "611";
    changed.pages = {{"x1"}};
    changed.unmarked[1] = 1000;
    MarketItem throttled = market_item("612");
    throttled.throttled[1] = 1000;
    // Worker 1 takes the first item and then the throttled one; worker 2 the changed one.
    list({mall_item(), changed, throttled});
    const auto started = std::chrono::steady_clock::now();
    const ChildResult r =
        cli({"reviews", "--urls", (dir / "urls.txt").string(), "--workers", "2", "--out", out()});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::minutes(3));
    EXPECT_EQ(read_bytes(out()), "m1\r\nm2\r\n");
    // The watch's own report: the service, the marker and where the answer went.
    std::vector<fs::path> saved;
    for (const auto& entry : fs::directory_iterator(dir / "reports"))
        saved.push_back(entry.path());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_NE(r.err.find("rate.tmall.test/list_detail_rate.htm"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(saved[0].string()), std::string::npos) << r.err;
    EXPECT_NE(read_bytes(saved[0]).find("\"rateList\":[]"), std::string::npos);
    // It came to the throttle and was paused there when the run ended.
    EXPECT_NE(r.err.find("\"state\":\"throttled\""), std::string::npos) << r.err;
    EXPECT_EQ(asked("/list_detail_rate.htm?itemId=611"), 10u);
}

}  // namespace
