#pragma once
// The settings both front ends read from zembra.toml: the marketplace hosts, the proxy, the results
// store, the cookies file, the saved sign-in and the worker counts. Environment variables override
// the file (ZEMBRA_<SECTION>_<KEY>, e.g. ZEMBRA_NETWORK_PROXY) and each front end's own inputs
// override both. An unknown key or a bad value is an error that names the key and its line.
//
//   [hosts]    search, shop_domain_suffix, mall_item_detail, mall_review, mall_rating_summary,
//              marketplace_review, counter, login_start_url, member_lookup   (strings)
//   [network]  proxy (string), cookies (path of a cookies.txt)
//   [store]    location (a SQLite file, a folder for its zembra.db, or a postgresql:// address),
//              keep_answers (boolean, false: keep every answer body in the store)
//   [workers]  search, reviews, members   (integers 1..64)
//   [login]    save (boolean, false), file (where a saved sign-in goes; by default login.txt
//              beside the settings in the user's config folder)
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "web/host_settings.h"

struct ProgramSettings {
    HostSettings hosts;
    std::string proxy;
    std::string cookies;
    std::string store;
    bool keep_answers = false;
    int search_workers = 1;
    int review_workers = 1;
    int member_workers = 1;
    bool save_login = false;
    std::string login_file;
};

inline constexpr int kMaxWorkers = 64;

// Reads TOML text into settings, over the values they hold. `source` names the text in messages
// ("zembra.toml:7: ..."). False with the message in error on a syntax error, an unknown table or
// key, or a value of the wrong type or range.
bool read_settings_text(std::string_view toml, const std::string& source, ProgramSettings& settings,
                        std::string& error);

// Reads a settings file; a missing file is an error too.
bool read_settings_file(const std::filesystem::path& path, ProgramSettings& settings,
                        std::string& error);

// Applies the ZEMBRA_<SECTION>_<KEY> variables `lookup` knows (nullptr: not set). False with the
// variable named in error when one holds a bad value.
bool apply_settings_environment(const std::function<const char*(const char* name)>& lookup,
                                ProgramSettings& settings, std::string& error);

// Where the settings file is looked for when none is named: $ZEMBRA_CONFIG, else zembra.toml in
// the working folder, else $XDG_CONFIG_HOME/zembra/zembra.toml (~/.config/...). nullopt when none
// of them exists.
std::optional<std::filesystem::path> find_settings_file(
    const std::function<const char*(const char* name)>& lookup);

// $XDG_CONFIG_HOME/zembra (~/.config/zembra); empty when neither variable is set.
std::filesystem::path config_folder(const std::function<const char*(const char* name)>& lookup);

// The full load: the named file (or the one found), then the environment; a login file left
// unnamed goes to the config folder. False with a message.
bool load_program_settings(const std::optional<std::filesystem::path>& named,
                           ProgramSettings& settings, std::string& error);

// Makes the proxy of the settings, when there is one, the proxy of both request routes for the
// rest of the process (http_proxy and https_proxy). Call before any thread starts.
void use_proxy_setting(const ProgramSettings& settings);
