// zembra-cli's arguments, bad inputs, exit codes, progress and interrupt.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "runtime/gbk.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/http_server.h"

namespace {

namespace fs = std::filesystem;
using Kind = MarketItem::Kind;

class CliRun : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        MarketItem item;
        item.id = "501";
        item.seller = "9501";
        item.kind = Kind::Marketplace;
        item.pages = {{"u1", "u2"}, {"u3"}};
        market.add_item(item);
        write_bytes(dir / "urls.txt", item.url() + "\r\n");
        write_bytes(dir / "names.txt", "bob\r\n");
    }
    std::string out() const { return (dir / "out.txt").string(); }
};

TEST_F(CliRun, BadInputsEndWithCodeOneAMessageAndNoOutput) {
    write_bytes(dir / "bad_gbk.txt", "http://a/item.htm?id=1\r\nhttp://b/\xFF\xFE?id=2\r\n");
    write_bytes(dir / "bad_lead.txt", "ok\r\n\x81");
    // Sparse: past the import limit without using the disk.
    write_bytes(dir / "huge.txt", "http://a/item.htm?id=1\r\n");
    fs::resize_file(dir / "huge.txt", (std::uintmax_t{1} << 30) + 1);
    // A pipe nobody writes to: reading it would wait for ever.
    ASSERT_EQ(mkfifo((dir / "pipe.txt").c_str(), 0600), 0);
    // A port nothing listens on: bound, then closed.
    std::string dead_proxy;
    {
        HttpServer closed;
        dead_proxy = closed.base_url();
    }
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> env;
        const char* message;
    } cases[] = {
        {"no subcommand", {}, {}, "subcommand is required"},
        {"unknown option", {"reviews", "--bogus", "--urls", "x", "--out", "y"}, {}, "bogus"},
        {"missing required", {"reviews", "--out", "y"}, {}, "--urls"},
        {"workers out of range",
         {"reviews", "--urls", "u", "--workers", "0", "--out", "y"},
         {},
         "workers"},
        {"pages not a number", {"search", "-k", "x", "--pages", "many", "--out", "y"}, {}, "pages"},
        {"missing URL file",
         {"reviews", "--urls", (dir / "none.txt").string()},
         {},
         "none.txt does not exist"},
        {"URL file not GBK",
         {"reviews", "--urls", (dir / "bad_gbk.txt").string()},
         {},
         "line 2 is not GBK"},
        {"URL file ends in a lead byte",
         {"reviews", "--urls", (dir / "bad_lead.txt").string()},
         {},
         "line 2 is not GBK"},
        {"URL file over 1 GiB",
         {"reviews", "--urls", (dir / "huge.txt").string()},
         {},
         "huge.txt is larger than 1 GiB"},
        {"URL file a pipe",
         {"reviews", "--urls", (dir / "pipe.txt").string()},
         {},
         "pipe.txt does not exist or is not a file"},
        {"missing name file",
         {"members", "--names", (dir / "none.txt").string()},
         {},
         "does not exist"},
        {"unreachable proxy",
         {"reviews", "--urls", (dir / "urls.txt").string()},
         {{"http_proxy", dead_proxy}},
         "cannot reach the proxy"},
        {"output folder missing",
         {"reviews", "--urls", (dir / "urls.txt").string()},
         {},
         "does not exist"},
        {"no keyword", {"search", "-k", "", "--pages", "1"}, {}, "关键字没有填写!"},
        {"price range reversed",
         {"search", "-k", "x", "--pages", "1", "--low", "9", "--high", "2"},
         {},
         "价格区间填写错误!"},
        {"bad settings value",
         {"reviews", "--urls", (dir / "urls.txt").string()},
         {{"ZEMBRA_WORKERS_REVIEWS", "lots"}},
         "ZEMBRA_WORKERS_REVIEWS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        const fs::path target = std::string(c.name) == "output folder missing"
                                    ? dir / "missing" / "out.txt"
                                    : dir / "out.txt";
        if (!args.empty() && args.back() != "y" && args.size() > 1) {
            args.push_back("--out");
            args.push_back(target.string());
        }
        auto env_vars = env();
        for (const auto& v : c.env)
            env_vars.push_back(v);
        const ChildResult r = run_child(ZEMBRA_CLI_PATH, args, env_vars, dir);
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(target));
        EXPECT_FALSE(fs::exists(dir / "y"));
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(CliRun, HelpAndVersionEndWithCodeZero) {
    const struct {
        std::vector<std::string> args;
        const char* text;
    } cases[] = {
        {{"--help"}, "reviews"},
        {{"--version"}, "zembra-cli "},
        {{"search", "--help"}, "--keyword"},
        {{"shop", "--help"}, "shops"},
        {{"reviews", "--help"}, "--urls"},
        {{"members", "--help"}, "--names"},
    };
    for (const auto& c : cases) {
        const ChildResult r = cli(c.args);
        EXPECT_EQ(r.exit_code, 0) << c.args.front();
        EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
    }
}

TEST_F(CliRun, ProgressIsOneJsonLinePerPageWhenNotATerminal) {
    const ChildResult r = cli({"reviews", "--urls", (dir / "urls.txt").string(), "--out", out()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Lines: page 1, page 2, end; the rows grow as the pages come in.
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = r.err.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(r.err.substr(start, end - start));
    ASSERT_EQ(lines.size(), 3u) << r.err;
    // The one item is done at the end, with nothing left to wait for.
    EXPECT_TRUE(lines[0].starts_with(
        "{\"event\":\"page\",\"pages\":1,\"items\":0,\"total_items\":1,\"rows\":0,"))
        << lines[0];
    EXPECT_TRUE(lines[1].starts_with(
        "{\"event\":\"page\",\"pages\":2,\"items\":0,\"total_items\":1,\"rows\":2,"))
        << lines[1];
    EXPECT_TRUE(lines[2].starts_with(
        "{\"event\":\"end\",\"pages\":2,\"items\":1,\"total_items\":1,\"rows\":3,"))
        << lines[2];
    EXPECT_NE(lines[2].find("\"eta_s\":0,"), std::string::npos) << lines[2];
    for (const auto& line : lines)
        EXPECT_TRUE(line.ends_with("\"state\":\"running\"}")) << line;
}

TEST_F(CliRun, SignInMissingEndsWithCodeTwoAndNoOutput) {
    MarketSearch search;
    search.logged_out = true;
    market.set_search(search);
    const ChildResult r = cli({"search", "-k", "x", "--pages", "2", "--out", out()});
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find("sign-in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"state\":\"blocked\""), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out()));
}

// Ctrl-C during a throttled page: the run stops at once and the rows already in are written.
TEST_F(CliRun, InterruptWritesTheRowsReceivedAndEndsWith130) {
    MarketItem slow;
    slow.id = "777";
    slow.seller = "9777";
    slow.kind = Kind::Marketplace;
    slow.pages = {{"s1", "s2"}, {"s3"}};
    slow.throttled[2] = 1000;
    market.add_item(slow);
    write_bytes(dir / "urls.txt", slow.url() + "\r\n");

    ChildProcess child(ZEMBRA_CLI_PATH,
                       {"reviews", "--urls", (dir / "urls.txt").string(), "--out", out()}, env(),
                       dir);
    ASSERT_TRUE(child.started());
    // Page 2 answered with the throttle, and the run is in its pause.
    ASSERT_TRUE(child.wait_for_error_text("{\"event\":\"state\",\"pages\":2,", 60000));
    child.send(SIGINT);
    const auto sent = std::chrono::steady_clock::now();
    const ChildResult r = child.wait(60000);
    EXPECT_EQ(r.exit_code, 130) << r.err;
    // Far sooner than the six-minute pause the throttled page asked for.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(60));
    EXPECT_EQ(read_bytes(out()), "s1\r\ns2\r\n");
    EXPECT_NE(r.err.find("\"state\":\"throttled\",\"pause_s\":"), std::string::npos) << r.err;
    EXPECT_EQ(market.request_count(), 4u);  // item page, counter, page 1, page 2 once
}

}  // namespace

namespace {

// Which proxy wins: the flag over ZEMBRA_NETWORK_PROXY over the settings file over http_proxy.
TEST_F(CliRun, ProxyComesFromFlagThenEnvironmentThenFile) {
    std::string dead;
    {
        HttpServer closed;
        dead = closed.base_url();
    }
    const std::string live = market.proxy_url();
    const struct {
        const char* name;
        std::string file_proxy, env_proxy, flag_proxy, system_proxy;
        int code;
    } cases[] = {
        {"system only", "", "", "", live, 0},
        {"file over system", live, "", "", dead, 0},
        {"environment over file", dead, live, "", dead, 0},
        {"flag over environment", dead, dead, live, dead, 0},
        {"environment dead", live, dead, "", live, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string toml = hosts_toml(Marketplace::hosts());
        if (!c.file_proxy.empty()) toml += "[network]\nproxy = \"" + c.file_proxy + "\"\n";
        write_bytes(dir / "zembra.toml", toml);
        auto vars = env();
        vars.push_back({"http_proxy", c.system_proxy});
        vars.push_back({"HTTP_PROXY", c.system_proxy});
        vars.push_back({"ZEMBRA_NETWORK_PROXY", c.env_proxy});
        std::vector<std::string> args{"reviews", "--urls", (dir / "urls.txt").string(), "--out",
                                      out()};
        if (!c.flag_proxy.empty()) args.insert(args.begin(), {"--proxy", c.flag_proxy});
        const ChildResult r = run_child(ZEMBRA_CLI_PATH, args, vars, dir);
        EXPECT_EQ(r.exit_code, c.code) << r.err;
        if (c.code == 0) {
            EXPECT_EQ(read_bytes(out()), "u1\r\nu2\r\nu3\r\n");
        }
        std::filesystem::remove(out());
    }
}

}  // namespace

namespace {

// A cookies.txt given with --cookies signs the page fetches in (the route with the shared cookie
// store); a bad one is refused up front.
TEST_F(CliRun, CookiesFileSignsThePagesIn) {
    write_bytes(dir / "cookies.txt",
                "# Netscape HTTP Cookie File\n.taobao.test\tTRUE\t/\tFALSE\t0\tsid\tabc123\n");
    write_bytes(dir / "broken.txt", ".taobao.test\tTRUE\t/\tFALSE\t0\tsid hidden\n");
    market.add_member("bob", "42");
    const ChildResult r = cli({"--cookies", (dir / "cookies.txt").string(), "members", "--names",
                               (dir / "names.txt").string(), "--out", out()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto requests = market.server().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(read_bytes(out()), "42\r\n");
    for (const auto& request : requests)
        EXPECT_NE(request.header("Cookie").find("sid=abc123"), std::string::npos) << request.raw;

    const ChildResult bad = cli({"--cookies", (dir / "broken.txt").string(), "reviews", "--urls",
                                 (dir / "urls.txt").string(), "--out", out() + ".2"});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_NE(bad.err.find("broken.txt line 1"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.err.find("hidden"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(out() + ".2"));
}

}  // namespace

namespace {

// A shop run counts its shops: a JSON line for each shop read, and an interrupt during a later
// shop keeps the item addresses of the shops before it.
TEST_F(CliRun, ShopProgressCountsShopsAndAnInterruptKeepsTheShopsRead) {
    const auto [shop_a, shop_b] = add_two_shops();

    const ChildResult whole = cli({"shop", shop_a, shop_b, "--out", out()});
    ASSERT_EQ(whole.exit_code, 0) << whole.err;
    EXPECT_TRUE(
        whole.err.starts_with("{\"event\":\"shop\",\"shops\":1,\"total_shops\":2,\"rows\":6,"))
        << whole.err;
    EXPECT_NE(whole.err.find("\n{\"event\":\"shop\",\"shops\":2,\"total_shops\":2,\"rows\":9,"),
              std::string::npos)
        << whole.err;
    EXPECT_NE(whole.err.find("\n{\"event\":\"end\",\"shops\":2,"), std::string::npos) << whole.err;
    const std::string all = read_bytes(out());
    std::filesystem::remove(out());

    // The second shop's pages hang until the test ends.
    // The waiting hook may outlive this test's locals: the flag is shared with it.
    const auto release = std::make_shared<std::atomic<bool>>(false);
    market.set_before_answer([release](const std::string& url) {
        if (url.find(market_host::kShopB) == std::string::npos) return;
        for (int i = 0; i < 6000 && !release->load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    ChildProcess child(ZEMBRA_CLI_PATH, {"shop", shop_a, shop_b, "--out", out()}, env(), dir);
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.wait_for_error_text("{\"event\":\"shop\",\"shops\":1,", 60000));
    child.send(SIGINT);
    const ChildResult r = child.wait(60000);
    release->store(true);
    EXPECT_EQ(r.exit_code, 130) << r.err;
    const std::string first_shop = read_bytes(out());
    EXPECT_EQ(std::count(first_shop.begin(), first_shop.end(), '\n'), 6) << first_shop;
    EXPECT_TRUE(all.starts_with(first_shop));
    market.set_before_answer({});
}

}  // namespace
