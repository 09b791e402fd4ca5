#pragma once
// `runs` over a SQLite store: every run with its row counts. `export`: the rows of a stored run
// written as the window's export of its list would write them (the buyer IDs, or for a run without
// buyers its item addresses), or as JSON lines with every field of the rows.
#include <string>

#include "store/results_store.h"

// format: "txt", "csv", "xlsx", "jsonl", or empty for the one the output's extension names.
int run_export(const std::string& store, long long run, const std::string& out,
               const std::string& format);

// Lists the runs of a SQLite store (the window's by default) on standard output.
int run_list_stored_runs(const std::string& store);
// One line of `runs`: the run, its kind, start (UTC), how it ended, its row counts, its parameters.
std::string run_line(const RunCounts& counts);
