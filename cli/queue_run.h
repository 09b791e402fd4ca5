#pragma once
// The review harvest over a queue shared through PostgreSQL: any number of processes on any
// machines claim its addresses one at a time with a lease, harvest each with the window's review
// code and store its buyers, with the answer pages they came from, together with the address's end
// in one transaction. A process that dies keeps its address only until the lease runs out; then
// another takes it.
#include <string>

#include "cli/commands.h"

struct QueueOptions {
    std::string store;     // postgresql://...
    std::string queue;     // its name
    std::string url_file;  // loaded into the queue when the queue does not exist yet
    int workers = 1;
    int lease_seconds = 60;
};

int run_review_queue(const QueueOptions& options, const RunPlace& place);
// Prints the runs of no queue as for a SQLite store, then every queue with its address states,
// buyer rows and per-process counts.
int run_list_runs(const std::string& store);
