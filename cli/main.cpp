// zembra-cli: the harvests from a terminal, on the same core as the window.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/export_run.h"
#include "cli/interrupt.h"
#include "cli/proxy_check.h"
#include "cli/queue_run.h"
#include "cli/run_support.h"
#include "cli/store_place.h"
#include "web/cookies_file.h"
#include "web/program_settings.h"

namespace {

constexpr const char* kExitCodes =
    "Exit codes: 0 done, 1 bad input (arguments, files, proxy, no answer), 2 blocked or the pages "
    "changed (a check to pass, sign in with --cookies), 130 interrupted. On 2 and 130 the rows "
    "received so far are written.";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Harvests item and buyer data from the marketplace without a window.",
                 "zembra-cli"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", std::string("zembra-cli ") + ZEMBRA_VERSION);
    app.require_subcommand(1);

    RunPlace place;
    std::string config_file, proxy, cookies;
    app.add_option("--config", config_file,
                   "Settings file (default: $ZEMBRA_CONFIG, ./zembra.toml, "
                   "~/.config/zembra/zembra.toml)");
    app.add_option("--proxy", proxy, "HTTP proxy for every page (overrides the settings)");
    app.add_option("--cookies", cookies,
                   "Netscape cookies.txt to sign in with (default: the settings' cookies file, "
                   "else the window's saved sign-in)");
    auto add_out = [&place](CLI::App* command) {
        command->add_option("--out,-o", place.out, "List file to write (GBK, CR LF); - for stdout")
            ->required();
    };

    SearchOptions search;
    std::string sort = "overall";
    CLI::App* search_command =
        app.add_subcommand("search", "List the items a keyword search finds");
    search_command->add_option("--keyword,-k", search.keyword, "Search keyword")->required();
    search_command->add_option("--pages,-p", search.pages, "Result pages to read")
        ->required()
        ->check(CLI::Range(1, 100000));
    search_command->add_option("--low", search.low, "Lowest price");
    search_command->add_option("--high", search.high, "Highest price");
    search_command->add_flag("--mall-only", search.mall_only, "Only items of the mall");
    search_command->add_option("--sort", sort, "overall (default) or sales")
        ->check(CLI::IsMember({"overall", "sales"}));
    search_command->add_option("--buyers", search.buyers_out,
                               "Also harvest the buyers of the items found into this file");
    search_command->add_option("--workers,-w", search.workers, "Items harvested at once")
        ->check(CLI::Range(1, 64));
    add_out(search_command);

    std::vector<std::string> shops;
    CLI::App* shop_command = app.add_subcommand("shop", "List the items of shops");
    shop_command->add_option("shops", shops, "Shop addresses")->required();
    add_out(shop_command);

    std::string url_file, store, queue;
    int review_workers = 1;
    int lease_seconds = 60;
    app.add_option("--store", store,
                   "Results store: postgresql://... (shared by several processes) or a SQLite "
                   "file or folder; by default the window's zembra.db in the data folder "
                   "(overrides the settings)");
    CLI::App* reviews_command =
        app.add_subcommand("reviews", "Harvest the buyer IDs of the items in a URL list file");
    reviews_command->add_option("--urls,-u", url_file, "URL list file (GBK, one per line)");
    reviews_command->add_option("--queue", queue,
                                "Work on this shared queue of the store (loaded from --urls "
                                "once); buyers go to the store");
    reviews_command
        ->add_option("--lease", lease_seconds,
                     "Seconds a claimed address stays with a process that stopped "
                     "answering (queue)")
        ->check(CLI::Range(2, 86400));
    reviews_command->add_option("--workers,-w", review_workers, "Workers at once")
        ->check(CLI::Range(1, 64));
    reviews_command->add_option("--out,-o", place.out,
                                "List file to write (GBK, CR LF); - for stdout; not with --queue");

    std::string name_file;
    int member_workers = 1;
    CLI::App* members_command =
        app.add_subcommand("members", "Look Wangwang names up to their member IDs");
    members_command->add_option("--names,-n", name_file, "Wangwang list file (GBK)")->required();
    members_command->add_option("--workers,-w", member_workers, "Lookups at once")
        ->check(CLI::Range(1, 64));
    add_out(members_command);

    CLI::App* runs_command =
        app.add_subcommand("runs",
                           "List the stored runs with their row counts (a postgresql:// store: "
                           "its shared queues too, with per-process counts)");
    long long export_run = 0;
    std::string export_format;
    CLI::App* export_command = app.add_subcommand(
        "export", "Write a stored run's buyer IDs (or, without buyers, its item addresses)");
    export_command->add_option("--run", export_run, "Run number (see runs)")->required();
    export_command
        ->add_option("--format", export_format,
                     "txt (the window's list file), csv, xlsx or jsonl (every field); by "
                     "default the one the output's extension names")
        ->check(CLI::IsMember({"txt", "csv", "xlsx", "jsonl"}));
    export_command->add_option("--out,-o", place.out, "File to write; - for standard output")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitDone : kExitBadInput;
    }

    ProgramSettings settings;
    std::string error;
    if (!load_program_settings(
            config_file.empty() ? std::nullopt : std::optional<std::filesystem::path>(config_file),
            settings, error)) {
        report(error);
        return kExitBadInput;
    }
    // Flags override the settings.
    if (!proxy.empty()) settings.proxy = proxy;
    use_proxy_setting(settings);
    if (!cookies.empty()) settings.cookies = cookies;
    if (!settings.cookies.empty()) {
        if (!load_cookies_file(settings.cookies, error)) {
            report(error);
            return kExitBadInput;
        }
    } else if (!settings.login_file.empty() && std::filesystem::exists(settings.login_file)) {
        // The window's saved sign-in, when there is one.
        if (!load_cookies_file(settings.login_file, error)) report(error);
    }
    place.hosts = settings.hosts;
    auto workers = [](CLI::App* command, int& value, int configured) {
        if (command->count("--workers") == 0) value = configured;
    };
    workers(search_command, search.workers, settings.search_workers);
    workers(reviews_command, review_workers, settings.review_workers);
    workers(members_command, member_workers, settings.member_workers);

    if (store.empty()) store = settings.store;
    place.store = store;
    place.keep_answers = settings.keep_answers;
    place.terminal = isatty(STDERR_FILENO) != 0;
    if (*runs_command)
        return postgres_address(store) ? run_list_runs(store) : run_list_stored_runs(store);
    if (*export_command) return run_export(store, export_run, place.out, export_format);
    install_interrupt_handler();
    if (*search_command) {
        search.by_sales = sort == "sales";
        return run_search(search, place);
    }
    if (*shop_command) return run_shop(shops, place);
    if (*reviews_command && !queue.empty())
        return run_review_queue({store, queue, url_file, review_workers, lease_seconds}, place);
    if (*reviews_command) {
        if (url_file.empty()) {
            report("reviews needs --urls FILE, or --queue NAME with a store");
            return kExitBadInput;
        }
        return run_reviews(url_file, review_workers, place);
    }
    return run_members(name_file, member_workers, place);
}
