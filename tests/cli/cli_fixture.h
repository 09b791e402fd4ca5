#pragma once
// Runs the real zembra-cli as a child process against the loopback marketplace: a settings file
// naming the marketplace's hosts, the marketplace as the proxy, a scratch folder per test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/marketplace.h"

inline std::string hosts_toml(const HostSettings& h) {
    return "[hosts]\nsearch = \"" + h.search_host + "\"\nshop_domain_suffix = \"" +
           h.shop_domain_suffix + "\"\nmall_item_detail = \"" + h.mall_item_detail_host +
           "\"\nmall_review = \"" + h.mall_review_host + "\"\nmall_rating_summary = \"" +
           h.mall_rating_summary_host + "\"\nmarketplace_review = \"" + h.marketplace_review_host +
           "\"\ncounter = \"" + h.counter_host + "\"\nlogin_start_url = \"" + h.login_start_url +
           "\"\nmember_lookup = \"" + h.member_lookup_host + "\"\n";
}

inline std::string read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class CliTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        dir = std::filesystem::temp_directory_path() /
              ("zembra_cli_" + std::to_string(::getpid()) + "_" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        write_bytes(dir / "zembra.toml", hosts_toml(Marketplace::hosts()));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // The environment of a run: the marketplace as proxy, our settings file, nothing else of ours.
    std::vector<std::pair<std::string, std::string>> env() const {
        return {{"http_proxy", market.proxy_url()},
                {"HTTP_PROXY", market.proxy_url()},
                {"no_proxy", ""},
                {"NO_PROXY", ""},
                {"ZEMBRA_CONFIG", (dir / "zembra.toml").string()},
                {"ZEMBRA_NETWORK_PROXY", ""},
                {"ZEMBRA_WORKERS_REVIEWS", ""}};
    }
    ChildResult cli(const std::vector<std::string>& args) {
        return run_child(ZEMBRA_CLI_PATH, args, env(), dir);
    }
    // Two shops the marketplace serves: one of each kind, the first of two pages.
    struct TwoShops {
        std::string a, b;  // their addresses as a user lists them
    };
    TwoShops add_two_shops() {
        MarketShop a;
        a.pages = 2;
        market.add_shop(a);
        MarketShop b;
        b.host = market_host::kShopB;
        b.kind_a = false;
        b.first_item = 700000;
        market.add_shop(b);
        return {std::string("http://") + market_host::kShopA + "/",
                std::string("http://") + market_host::kShopB + "/index.htm"};
    }

    Marketplace market;
    std::filesystem::path dir;
};
