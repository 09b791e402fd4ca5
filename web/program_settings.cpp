#include "web/program_settings.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

namespace {

enum class Kind { text, workers, flag };

// One key of the file: its table, its name and the field it fills.
struct Field {
    const char* table;
    const char* key;
    Kind kind;
    std::function<std::string*(ProgramSettings&)> text;
    std::function<int*(ProgramSettings&)> number;
    std::function<bool*(ProgramSettings&)> flag;
};

Field text_field(const char* table, const char* key, std::string* (*get)(ProgramSettings&)) {
    return {table, key, Kind::text, get, {}, {}};
}

const std::vector<Field>& fields() {
    static const std::vector<Field> all = {
        text_field("hosts", "search", [](ProgramSettings& s) { return &s.hosts.search_host; }),
        text_field("hosts", "shop_domain_suffix",
                   [](ProgramSettings& s) { return &s.hosts.shop_domain_suffix; }),
        text_field("hosts", "mall_item_detail",
                   [](ProgramSettings& s) { return &s.hosts.mall_item_detail_host; }),
        text_field("hosts", "mall_review",
                   [](ProgramSettings& s) { return &s.hosts.mall_review_host; }),
        text_field("hosts", "mall_rating_summary",
                   [](ProgramSettings& s) { return &s.hosts.mall_rating_summary_host; }),
        text_field("hosts", "marketplace_review",
                   [](ProgramSettings& s) { return &s.hosts.marketplace_review_host; }),
        text_field("hosts", "counter", [](ProgramSettings& s) { return &s.hosts.counter_host; }),
        text_field("hosts", "login_start_url",
                   [](ProgramSettings& s) { return &s.hosts.login_start_url; }),
        text_field("hosts", "member_lookup",
                   [](ProgramSettings& s) { return &s.hosts.member_lookup_host; }),
        text_field("network", "proxy", [](ProgramSettings& s) { return &s.proxy; }),
        text_field("network", "cookies", [](ProgramSettings& s) { return &s.cookies; }),
        text_field("store", "location", [](ProgramSettings& s) { return &s.store; }),
        {"store",
         "keep_answers",
         Kind::flag,
         {},
         {},
         [](ProgramSettings& s) { return &s.keep_answers; }},
        {"workers",
         "search",
         Kind::workers,
         {},
         [](ProgramSettings& s) { return &s.search_workers; },
         {}},
        {"workers",
         "reviews",
         Kind::workers,
         {},
         [](ProgramSettings& s) { return &s.review_workers; },
         {}},
        {"workers",
         "members",
         Kind::workers,
         {},
         [](ProgramSettings& s) { return &s.member_workers; },
         {}},
        {"login", "save", Kind::flag, {}, {}, [](ProgramSettings& s) { return &s.save_login; }},
        text_field("login", "file", [](ProgramSettings& s) { return &s.login_file; }),
    };
    return all;
}

const Field* find_field(std::string_view table, std::string_view key) {
    for (const Field& f : fields())
        if (table == f.table && key == f.key) return &f;
    return nullptr;
}

bool known_table(std::string_view table) {
    for (const Field& f : fields())
        if (table == f.table) return true;
    return false;
}

std::string where(const std::string& source, const toml::node& node) {
    return source + ":" + std::to_string(node.source().begin.line) + ": ";
}

bool host_like(std::string_view value) {
    if (value.empty()) return false;
    for (char c : value)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '"') return false;
    return true;
}

// Checks a text value beyond its type: hosts are bare names, the sign-in page an address.
std::string text_problem(const Field& f, std::string_view value) {
    const std::string_view table = f.table;
    const std::string_view key = f.key;
    if (table == "hosts" && key == "login_start_url")
        return value.starts_with("http://") || value.starts_with("https://")
                   ? ""
                   : "must be an http:// or https:// address";
    if (table == "hosts" && !host_like(value)) return "must be a host name without scheme or path";
    return "";
}

std::string name_of(const Field& f) {
    return std::string(f.table) + "." + f.key;
}

std::optional<int> parse_workers(std::string_view text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kMaxWorkers) return std::nullopt;
    return value;
}

std::string range_text() {
    return "must be a whole number from 1 to " + std::to_string(kMaxWorkers);
}

bool set_from_node(const Field& f, const toml::node& node, const std::string& source,
                   ProgramSettings& settings, std::string& error) {
    const std::string at = where(source, node) + name_of(f) + " ";
    switch (f.kind) {
        case Kind::text: {
            const auto* value = node.as_string();
            if (!value) {
                error = at + "must be a string";
                return false;
            }
            const std::string problem = text_problem(f, value->get());
            if (!problem.empty()) {
                error = at + problem;
                return false;
            }
            *f.text(settings) = value->get();
            return true;
        }
        case Kind::workers: {
            const auto* value = node.as_integer();
            if (!value || value->get() < 1 || value->get() > kMaxWorkers) {
                error = at + range_text();
                return false;
            }
            *f.number(settings) = static_cast<int>(value->get());
            return true;
        }
        case Kind::flag: {
            const auto* value = node.as_boolean();
            if (!value) {
                error = at + "must be true or false";
                return false;
            }
            *f.flag(settings) = value->get();
            return true;
        }
    }
    return false;
}

std::string environment_name(const Field& f) {
    std::string name = "ZEMBRA_";
    for (const char* part : {f.table, "_", f.key})
        for (const char* c = part; *c; ++c)
            name += (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
    return name;
}

const char* from_process_environment(const char* name) {
    return std::getenv(name);
}

}  // namespace

bool read_settings_text(std::string_view text, const std::string& source, ProgramSettings& settings,
                        std::string& error) {
    toml::table root;
    try {
        root = toml::parse(text, source);
    } catch (const toml::parse_error& e) {
        error = source + ":" + std::to_string(e.source().begin.line) + ": " +
                std::string(e.description());
        return false;
    }
    ProgramSettings result = settings;
    for (const auto& [table_key, table_node] : root) {
        const std::string table_name(table_key.str());
        if (!known_table(table_name)) {
            error = where(source, table_node) + "unknown table [" + table_name + "]";
            return false;
        }
        const toml::table* table = table_node.as_table();
        if (!table) {
            error = where(source, table_node) + table_name + " must be a table";
            return false;
        }
        for (const auto& [key, node] : *table) {
            const Field* f = find_field(table_name, key.str());
            if (!f) {
                error = where(source, node) + "unknown key " + table_name + "." +
                        std::string(key.str());
                return false;
            }
            if (!set_from_node(*f, node, source, result, error)) return false;
        }
    }
    settings = std::move(result);
    return true;
}

bool read_settings_file(const std::filesystem::path& path, ProgramSettings& settings,
                        std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read settings file " + path.string();
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return read_settings_text(text.str(), path.string(), settings, error);
}

bool apply_settings_environment(const std::function<const char*(const char* name)>& lookup,
                                ProgramSettings& settings, std::string& error) {
    ProgramSettings result = settings;
    for (const Field& f : fields()) {
        const std::string name = environment_name(f);
        const char* raw = lookup(name.c_str());
        if (!raw) continue;
        const std::string_view value(raw);
        switch (f.kind) {
            case Kind::text: {
                const std::string problem = text_problem(f, value);
                if (!problem.empty()) {
                    error = "environment variable " + name + " " + problem;
                    return false;
                }
                *f.text(result) = std::string(value);
                break;
            }
            case Kind::workers: {
                const auto number = parse_workers(value);
                if (!number) {
                    error = "environment variable " + name + " " + range_text();
                    return false;
                }
                *f.number(result) = *number;
                break;
            }
            case Kind::flag:
                if (value == "true" || value == "1") {
                    *f.flag(result) = true;
                } else if (value == "false" || value == "0") {
                    *f.flag(result) = false;
                } else {
                    error = "environment variable " + name + " must be true or false";
                    return false;
                }
                break;
        }
    }
    settings = std::move(result);
    return true;
}

std::optional<std::filesystem::path> find_settings_file(
    const std::function<const char*(const char* name)>& lookup) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    if (const char* named = lookup("ZEMBRA_CONFIG"); named && *named) return fs::path(named);
    if (fs::is_regular_file("zembra.toml", ignored)) return fs::path("zembra.toml");
    const fs::path folder = config_folder(lookup);
    if (folder.empty()) return std::nullopt;
    const fs::path path = folder / "zembra.toml";
    if (fs::is_regular_file(path, ignored)) return path;
    return std::nullopt;
}

std::filesystem::path config_folder(const std::function<const char*(const char* name)>& lookup) {
    if (const char* xdg = lookup("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "zembra";
    if (const char* home = lookup("HOME"); home && *home)
        return std::filesystem::path(home) / ".config" / "zembra";
    return {};
}

bool load_program_settings(const std::optional<std::filesystem::path>& named,
                           ProgramSettings& settings, std::string& error) {
    const auto path = named ? named : find_settings_file(from_process_environment);
    if (path && !read_settings_file(*path, settings, error)) return false;
    if (!apply_settings_environment(from_process_environment, settings, error)) return false;
    if (settings.login_file.empty()) {
        const std::filesystem::path folder = config_folder(from_process_environment);
        if (!folder.empty()) settings.login_file = (folder / "login.txt").string();
    }
    return true;
}

void use_proxy_setting(const ProgramSettings& settings) {
    if (settings.proxy.empty()) return;
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
        ::setenv(name, settings.proxy.c_str(), 1);
}
