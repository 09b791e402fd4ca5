// Pages per second of zembra-cli against the loopback marketplace: one process harvesting the
// reviews of a URL list, next to the curl tool fetching the same page sequence through the same
// proxy in the same run; then three processes sharing one PostgreSQL queue of the same list.
// Run from build/: bench/bench_cli (it starts its own PostgreSQL server in a temporary folder).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/marketplace.h"
#include "tests/support/pg_server.h"

namespace {

constexpr int kItems = 100;
constexpr int kPagesPerItem = 5;

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string hosts_toml(const HostSettings& h) {
    return "[hosts]\nsearch = \"" + h.search_host + "\"\nshop_domain_suffix = \"" +
           h.shop_domain_suffix + "\"\nmall_item_detail = \"" + h.mall_item_detail_host +
           "\"\nmall_review = \"" + h.mall_review_host + "\"\nmall_rating_summary = \"" +
           h.mall_rating_summary_host + "\"\nmarketplace_review = \"" + h.marketplace_review_host +
           "\"\ncounter = \"" + h.counter_host + "\"\nmember_lookup = \"" + h.member_lookup_host +
           "\"\n";
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path cli = fs::absolute(argc > 1 ? argv[1] : "cli/zembra-cli");
    const fs::path dir = fs::temp_directory_path() / ("bench_cli_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Marketplace market;
    std::string urls;
    for (int i = 0; i < kItems; ++i) {
        MarketItem item;
        item.id = std::to_string(990000 + i);
        item.seller = "3" + item.id;
        item.kind = i % 2 ? MarketItem::Kind::Marketplace : MarketItem::Kind::Mall;
        for (int p = 0; p < kPagesPerItem; ++p)
            item.pages.push_back({"b" + item.id + "_" + std::to_string(p)});
        urls += item.url() + "\r\n";
        market.add_item(item);
    }
    std::ofstream(dir / "urls.txt", std::ios::binary) << urls;
    std::ofstream(dir / "zembra.toml") << hosts_toml(Marketplace::hosts());
    const std::vector<std::pair<std::string, std::string>> env = {
        {"http_proxy", market.proxy_url()},
        {"no_proxy", ""},
        {"ZEMBRA_CONFIG", (dir / "zembra.toml").string()}};

    auto start = Clock::now();
    ChildResult one = run_child(
        cli.string(),
        {"reviews", "--urls", (dir / "urls.txt").string(), "--out", (dir / "out.txt").string()},
        env, dir, 600000);
    const double cli_seconds = seconds_since(start);
    const std::vector<std::string> sequence = market.urls();
    if (one.exit_code != 0) {
        std::fprintf(stderr, "zembra-cli failed: %s\n", one.err.c_str());
        return 1;
    }
    {
        std::ofstream config(dir / "curl.cfg");
        for (const std::string& url : sequence)
            config << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    }
    const std::string command =
        "curl -s -x " + market.proxy_url() + " -K " + (dir / "curl.cfg").string() + " 2>/dev/null";
    start = Clock::now();
    const int rc = std::system(command.c_str());
    const double curl_seconds = seconds_since(start);

    std::printf("one zembra-cli process, reviews of %d items: %zu pages in %.2f s = %.0f pages/s\n",
                kItems, sequence.size(), cli_seconds, sequence.size() / cli_seconds);
    if (rc == 0)
        std::printf("curl, the same page sequence:            %zu pages in %.2f s = %.0f pages/s\n",
                    sequence.size(), curl_seconds, sequence.size() / curl_seconds);
    else
        std::printf("curl failed (exit %d)\n", rc);

    PgServer pg;
    if (!pg.ok()) {
        std::printf("no PostgreSQL server: %s\n", pg.error().c_str());
        fs::remove_all(dir);
        return 0;
    }
    market.clear_urls();
    start = Clock::now();
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < 3; ++i)
        children.push_back(std::make_unique<ChildProcess>(
            cli.string(),
            std::vector<std::string>{"--store", pg.address(), "reviews", "--queue", "bench",
                                     "--urls", (dir / "urls.txt").string()},
            env, dir));
    bool good = true;
    for (auto& child : children)
        good = child->wait(600000).exit_code == 0 && good;
    const double queue_seconds = seconds_since(start);
    const size_t pages = market.request_count();
    std::printf("three processes on one PostgreSQL queue:  %zu pages in %.2f s = %.0f pages/s%s\n",
                pages, queue_seconds, pages / queue_seconds, good ? "" : " (a process failed)");
    fs::remove_all(dir);
    return 0;
}
