#include "web/program_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

namespace {

using Env = std::map<std::string, std::string>;

auto lookup_in(const Env& env) {
    return [&env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
}

TEST(ProgramSettings, FileFillsEveryKey) {
    ProgramSettings s;
    std::string error;
    ASSERT_TRUE(read_settings_text(R"(# loopback
[hosts]
search = "s.example.test"
shop_domain_suffix = ".shop.test"
mall_item_detail = "detail.mall.test"
mall_review = "rate.mall.test"
mall_rating_summary = "dsr.mall.test"
marketplace_review = "rate.market.test"
counter = "count.market.test"
login_start_url = "https://login.market.test/in"
member_lookup = "members.market.test"

[network]
proxy = "http://127.0.0.1:3128"
cookies = "/tmp/cookies.txt"

[store]
location = "postgresql://u@h/db"
keep_answers = true

[workers]
search = 2
reviews = 5
members = 64

[login]
save = true
file = "/tmp/login.txt"
)",
                                   "zembra.toml", s, error))
        << error;
    EXPECT_EQ(s.hosts.search_host, "s.example.test");
    EXPECT_EQ(s.hosts.shop_domain_suffix, ".shop.test");
    EXPECT_EQ(s.hosts.mall_item_detail_host, "detail.mall.test");
    EXPECT_EQ(s.hosts.mall_review_host, "rate.mall.test");
    EXPECT_EQ(s.hosts.mall_rating_summary_host, "dsr.mall.test");
    EXPECT_EQ(s.hosts.marketplace_review_host, "rate.market.test");
    EXPECT_EQ(s.hosts.counter_host, "count.market.test");
    EXPECT_EQ(s.hosts.login_start_url, "https://login.market.test/in");
    EXPECT_EQ(s.hosts.member_lookup_host, "members.market.test");
    EXPECT_EQ(s.proxy, "http://127.0.0.1:3128");
    EXPECT_EQ(s.cookies, "/tmp/cookies.txt");
    EXPECT_EQ(s.store, "postgresql://u@h/db");
    EXPECT_TRUE(s.keep_answers);
    EXPECT_EQ(s.search_workers, 2);
    EXPECT_EQ(s.review_workers, 5);
    EXPECT_EQ(s.member_workers, 64);
    EXPECT_TRUE(s.save_login);
    EXPECT_EQ(s.login_file, "/tmp/login.txt");
}

TEST(ProgramSettings, KeysLeftOutKeepTheirDefaults) {
    ProgramSettings s;
    std::string error;
    ASSERT_TRUE(read_settings_text("[workers]\nreviews = 3\n", "z.toml", s, error)) << error;
    EXPECT_EQ(s.hosts.search_host, HostSettings{}.search_host);
    EXPECT_EQ(s.review_workers, 3);
    EXPECT_EQ(s.member_workers, 1);
    EXPECT_FALSE(s.save_login);
}

TEST(ProgramSettings, BadFilesNameTheKeyAndLine) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"[hosts]\nserch = \"x\"\n", "z.toml:2: unknown key hosts.serch"},
        {"[proxy]\nurl = \"x\"\n", "z.toml:1: unknown table [proxy]"},
        {"\n\n[workers]\nreviews = 0\n", "z.toml:4: workers.reviews must be a whole number"},
        {"[workers]\nmembers = 65\n", "z.toml:2: workers.members must be a whole number"},
        {"[workers]\nsearch = \"2\"\n", "z.toml:2: workers.search must be a whole number"},
        {"[hosts]\nsearch = 5\n", "z.toml:2: hosts.search must be a string"},
        {"[hosts]\nsearch = \"http://s.test/\"\n", "z.toml:2: hosts.search must be a host name"},
        {"[hosts]\ncounter = \"\"\n", "z.toml:2: hosts.counter must be a host name"},
        {"[hosts]\nlogin_start_url = \"login.test\"\n",
         "z.toml:2: hosts.login_start_url must be an http:// or https:// address"},
        {"[login]\nsave = \"yes\"\n", "z.toml:2: login.save must be true or false"},
        {"hosts = 1\n", "z.toml:1: hosts must be a table"},
        {"[hosts]\nsearch = \n", "z.toml:2: "},
    };
    for (const auto& c : cases) {
        ProgramSettings s;
        std::string error;
        EXPECT_FALSE(read_settings_text(c.text, "z.toml", s, error)) << c.text;
        EXPECT_TRUE(error.starts_with(c.message)) << error;
        // A bad file changes nothing.
        EXPECT_EQ(s.hosts.search_host, HostSettings{}.search_host);
        EXPECT_EQ(s.review_workers, 1);
    }
}

TEST(ProgramSettings, EnvironmentOverridesTheFile) {
    ProgramSettings s;
    std::string error;
    ASSERT_TRUE(read_settings_text("[network]\nproxy = \"http://file:1\"\n[workers]\nreviews = 2\n",
                                   "z.toml", s, error));
    const Env env{{"ZEMBRA_NETWORK_PROXY", "http://env:2"},
                  {"ZEMBRA_WORKERS_REVIEWS", "7"},
                  {"ZEMBRA_HOSTS_SEARCH", "s.env.test"},
                  {"ZEMBRA_LOGIN_SAVE", "1"}};
    ASSERT_TRUE(apply_settings_environment(lookup_in(env), s, error)) << error;
    EXPECT_EQ(s.proxy, "http://env:2");
    EXPECT_EQ(s.review_workers, 7);
    EXPECT_EQ(s.hosts.search_host, "s.env.test");
    EXPECT_TRUE(s.save_login);
}

TEST(ProgramSettings, BadEnvironmentValuesNameTheVariable) {
    const struct {
        const char* name;
        const char* value;
    } cases[] = {
        {"ZEMBRA_WORKERS_REVIEWS", "lots"}, {"ZEMBRA_WORKERS_MEMBERS", "0"},
        {"ZEMBRA_WORKERS_SEARCH", "-1"},    {"ZEMBRA_WORKERS_SEARCH", "1000"},
        {"ZEMBRA_LOGIN_SAVE", "maybe"},     {"ZEMBRA_HOSTS_COUNTER", "a b"},
    };
    for (const auto& c : cases) {
        ProgramSettings s;
        std::string error;
        const Env env{{c.name, c.value}};
        EXPECT_FALSE(apply_settings_environment(lookup_in(env), s, error)) << c.name;
        EXPECT_NE(error.find(c.name), std::string::npos) << error;
        EXPECT_EQ(s.review_workers, 1);
    }
}

TEST(ProgramSettings, FileIsFoundByVariableThenWorkingFolderThenConfigHome) {
    namespace fs = std::filesystem;
    const fs::path home =
        fs::temp_directory_path() / ("settings_home_" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / ".config" / "zembra");
    std::ofstream(home / ".config" / "zembra" / "zembra.toml") << "";
    Env env{{"HOME", home.string()}};
    EXPECT_EQ(find_settings_file(lookup_in(env)), home / ".config" / "zembra" / "zembra.toml");
    env["XDG_CONFIG_HOME"] = (home / "nowhere").string();
    EXPECT_EQ(find_settings_file(lookup_in(env)), std::nullopt);
    env["ZEMBRA_CONFIG"] = "/some/named.toml";
    EXPECT_EQ(find_settings_file(lookup_in(env)), fs::path("/some/named.toml"));
    fs::remove_all(home);
}

}  // namespace
