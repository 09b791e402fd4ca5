#pragma once
// The harvest subcommands of zembra-cli. Each fills its own window with what the command line
// gives, runs the same harvest code the desktop window runs, writes the same list file its export
// writes, and returns the exit code (cli/exit_codes.h). Messages go to standard error in UTF-8.
#include <cstdio>
#include <string>
#include <vector>

#include "web/host_settings.h"

// Where the run's output and progress go.
struct RunPlace {
    HostSettings hosts;
    std::string out;    // the list file; "-" writes to standard output
    std::string store;  // where the run's rows are kept as well (cli/store_place.h); "": nowhere
    bool keep_answers = false;  // the store archives every answer body too
    std::FILE* progress = stderr;
    bool terminal = false;  // progress as one rewritten line instead of JSON lines
};

struct SearchOptions {
    std::string keyword;  // UTF-8, as typed
    int pages = 1;
    std::string low, high;
    bool mall_only = false;
    bool by_sales = false;
    int workers = 1;
    std::string buyers_out;  // also harvest the buyers of the items found, written here
};

int run_search(const SearchOptions& options, const RunPlace& place);
int run_shop(const std::vector<std::string>& shops, const RunPlace& place);
int run_reviews(const std::string& url_file, int workers, const RunPlace& place);
int run_members(const std::string& name_file, int workers, const RunPlace& place);
