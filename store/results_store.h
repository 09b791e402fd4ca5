#pragma once
// The results store: every harvested row is written here beside the window lists, committed
// (each answer page all or nothing) before the rows are shown, so a crash loses nothing that was on
// screen.
// Text crosses this interface as GBK (Text); back ends keep it as UTF-8 so the store can be
// queried with ordinary tools. Every call is safe from any thread except the window thread's
// (never block the window on a disk). Failures are values: false, 0 or empty, with last_error().
//
// Schema, the same for every back end (times are milliseconds since the Unix epoch, UTC):
//
//   runs     id            integer key
//            kind          1 item search, 2 shop items, 3 reviews (RunKind)
//            parameters    the run's inputs as typed, "name=value" lines (UTF-8)
//            started_ms
//            ended_ms      NULL while the run goes on, or when it never ended (crash, kill)
//            ending        0 running, 1 finished, 2 stopped, 3 restored, 4 set aside (RunEnding)
//   answers  id            integer key; one per answer page that gave rows or was archived
//            run           runs.id
//            service       which service answered: "search", "shop", "mall-reviews",
//                          "market-reviews"
//            address       the address asked
//            page          the page number asked (1 for single-page answers)
//            time_ms       when the answer arrived
//            body          the answer, zstd-compressed; NULL unless answers are archived
//            body_size     the uncompressed size, NULL with body
//            report        1: an answer saved for a report of a changed format (it gave no rows,
//                          and is kept only when answers are archived), else 0
//   items    run, serial   the row number shown in the item list (column 0); unique per run
//            address       item address as listed
//            item_id, shop_id
//            answer        answers.id, the page it came from (service, address, page, time)
//   buyers   run, serial   the running number shown in the buyer list; unique per run (a number
//                          written again keeps the row first written)
//            buyer_id      kept as text: an 18-digit ID is no number to a spreadsheet
//            item_id       the item whose reviews named the buyer
//            answer        answers.id
//            On SQLite `buyers` is a view of `buyer_pages`, where the buyers of one page share a
//            row: run, first_serial, buyer_ids (a JSON array of the IDs, numbered on from
//            first_serial), item_id, answer. A row a page is a fraction of the work and the size.
//   urls     run, position the row of the URL list, from 0; unique per run
//            address
//            state         0 open, 1 claimed, 2 done (UrlState)
//            worker        who claimed it (free text), NULL while open
//            claimed_ms
//
// The URL list's cursor is the lowest position not done: a harvest that resumes starts there.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

enum class RunKind { item_search = 1, shop_items = 2, reviews = 3 };
enum class RunEnding { running = 0, finished = 1, stopped = 2, restored = 3, set_aside = 4 };
enum class UrlState { open = 0, claimed = 1, done = 2 };

struct RunInfo {
    std::int64_t id = 0;
    RunKind kind = RunKind::reviews;
    std::string parameters;  // UTF-8
    std::int64_t started_ms = 0;
    std::optional<std::int64_t> ended_ms;
    RunEnding ending = RunEnding::running;
};

// A run with the rows it holds, as `runs` lists it.
struct RunCounts {
    RunInfo run;
    std::int64_t items = 0;
    std::int64_t buyers = 0;
    std::int64_t urls = 0;
};

// Where the rows of one answer came from.
struct AnswerSource {
    std::string service;
    Text address;
    int page = 1;
    std::int64_t time_ms = 0;
};

struct ItemRow {
    std::int64_t serial = 0;
    Text address;
    Text item_id;
    Text shop_id;
    bool operator==(const ItemRow&) const = default;
};

struct BuyerRow {
    std::int64_t serial = 0;
    Text buyer_id;
    Text item_id;
    bool operator==(const BuyerRow&) const = default;
};

// A row of the run's URL list that moved on.
struct UrlStateChange {
    int position = 0;
    UrlState state = UrlState::open;
};

// One answer page and the rows it gave, written in one transaction, together with URL states
// that may as well wait for the next page (so they cost no commit of their own).
struct AnswerPage {
    std::int64_t run = 0;
    AnswerSource source;
    std::string_view body;  // archived only when the store keeps answers
    std::vector<ItemRow> items;
    std::vector<BuyerRow> buyers;
    std::vector<UrlStateChange> url_states;
    bool report = false;  // saved for a report: stored only when the store keeps answers
};

// A run's rows in serial order.
struct StoredRows {
    std::vector<ItemRow> items;
    std::vector<BuyerRow> buyers;
};

struct StoredUrl {
    int position = 0;
    Text address;
    UrlState state = UrlState::open;
};

struct UrlClaim {
    int position = 0;
    Text address;
};

struct StoredAnswer {
    AnswerSource source;
    std::string body;
    bool report = false;
};

struct StoreOptions {
    bool keep_answers = false;  // archive every answer body, compressed
};

class ResultsStore {
public:
    virtual ~ResultsStore() = default;

    // What went wrong last, in words for the user (UTF-8); empty when nothing did.
    virtual std::string last_error() const = 0;

    // A new run, its id; 0 when it cannot be written.
    virtual std::int64_t begin_run(RunKind kind, std::string_view parameters) = 0;
    virtual bool end_run(std::int64_t run, RunEnding ending) = 0;
    // The page and all its rows in one transaction: all of them are stored or none.
    virtual bool write_page(const AnswerPage& page) = 0;
    // Several pages, each all or nothing as by write_page (in one transaction where the back end
    // can); for each, whether it is stored.
    virtual std::vector<bool> write_pages(const std::vector<const AnswerPage*>& pages);
    // Whether answer bodies are archived: a caller that writes later must keep them till then.
    virtual bool keeps_answers() const { return false; }

    // The URL list of a run, from `first_position` on (open rows).
    virtual bool put_urls(std::int64_t run, int first_position,
                          const std::vector<Text>& addresses) = 0;
    virtual bool set_url_state(std::int64_t run, int position, UrlState state,
                               std::string_view worker = {}) = 0;
    // Takes the lowest open row and marks it claimed in one step, so that no two workers (threads
    // or processes) get the same row; empty when none is open.
    virtual std::optional<UrlClaim> claim_url(std::int64_t run, std::string_view worker) = 0;

    // Runs that never ended, newest first.
    virtual std::vector<RunInfo> unfinished_runs() = 0;
    virtual StoredRows rows(std::int64_t run) = 0;
    virtual std::vector<StoredUrl> urls(std::int64_t run) = 0;
    // The answers a run archived, bodies uncompressed, in the order they arrived.
    virtual std::vector<StoredAnswer> answers(std::int64_t run) = 0;
    // Where every stored answer of a run came from, archived or not, in the order they arrived.
    virtual std::vector<AnswerSource> answer_sources(std::int64_t run) = 0;
};

// Now, as the store keeps times: milliseconds since the Unix epoch.
std::int64_t store_time_ms();

// An answer saved for a report of a changed format: page 1, arrived now, no rows.
AnswerPage report_answer(std::int64_t run, std::string_view service, std::string_view address,
                         std::string_view body);

// The lowest position not done, or the list's length when every row is done.
int url_cursor(const std::vector<StoredUrl>& urls);
