#include "store/postgres_store.h"

#include <libpq-fe.h>

#include <cstdlib>

#include "runtime/gbk.h"
#include "store/answer_codec.h"

namespace {

// Milliseconds since the epoch on the server's clock.
const std::string kNow = "(extract(epoch from clock_timestamp()) * 1000)::bigint";

// Taken by every process before it creates the tables or a queue, so two never race there.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(736251001)";

const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS runs (id bigserial PRIMARY KEY, kind integer NOT NULL, "
    "parameters text NOT NULL DEFAULT '', started_ms bigint NOT NULL, ended_ms bigint, "
    "ending integer NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS answers (id bigserial PRIMARY KEY, run bigint NOT NULL "
    "REFERENCES runs(id), service text NOT NULL, address text NOT NULL, page integer NOT NULL, "
    "time_ms bigint NOT NULL, body bytea, body_size bigint)",
    // Stores made before answers saved for a report were kept here.
    "ALTER TABLE answers ADD COLUMN IF NOT EXISTS report integer NOT NULL DEFAULT 0",
    "CREATE TABLE IF NOT EXISTS items (run bigint NOT NULL REFERENCES runs(id), serial bigint "
    "NOT NULL, address text NOT NULL, item_id text NOT NULL, shop_id text NOT NULL, answer "
    "bigint, PRIMARY KEY (run, serial))",
    "CREATE SEQUENCE IF NOT EXISTS buyer_serials",
    "CREATE TABLE IF NOT EXISTS buyers (run bigint NOT NULL REFERENCES runs(id), serial bigint "
    "NOT NULL DEFAULT nextval('buyer_serials'), buyer_id text NOT NULL, item_id text NOT NULL, "
    "answer bigint, worker bigint, PRIMARY KEY (run, serial), UNIQUE (run, item_id, buyer_id))",
    "CREATE TABLE IF NOT EXISTS urls (run bigint NOT NULL REFERENCES runs(id), position integer "
    "NOT NULL, address text NOT NULL, state integer NOT NULL DEFAULT 0, worker text, claimed_ms "
    "bigint, lease_until_ms bigint, PRIMARY KEY (run, position))",
    "CREATE TABLE IF NOT EXISTS queues (name text PRIMARY KEY, run bigint NOT NULL REFERENCES "
    "runs(id))",
    "CREATE TABLE IF NOT EXISTS workers (id bigserial PRIMARY KEY, run bigint NOT NULL "
    "REFERENCES runs(id), name text NOT NULL, started_ms bigint NOT NULL, addresses integer NOT "
    "NULL DEFAULT 0, rows integer NOT NULL DEFAULT 0)",
};

std::string utf8(const Text& gbk) {
    return gbk_to_utf8(gbk);
}

std::int64_t number(const char* text) {
    return text ? std::strtoll(text, nullptr, 10) : 0;
}

// A bytea parameter in text form: "\x" and two hex digits a byte.
std::string bytea_text(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "\\x";
    text.reserve(2 + 2 * bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        text += kHex[u >> 4];
        text += kHex[u & 0xF];
    }
    return text;
}

// The bytes of a bytea column read in text form.
std::string bytea_bytes(const char* text) {
    size_t size = 0;
    unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &size);
    if (bytes == nullptr) return {};
    std::string out(reinterpret_cast<const char*>(bytes), size);
    PQfreemem(bytes);
    return out;
}

}  // namespace

struct PostgresStore::Result {
    PGresult* res = nullptr;
    bool good = false;
    Result() = default;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    Result(Result&& other) noexcept : res(other.res), good(other.good) { other.res = nullptr; }
    ~Result() {
        if (res) PQclear(res);
    }
    int rows() const { return res ? PQntuples(res) : 0; }
    const char* value(int row, int column) const { return PQgetvalue(res, row, column); }
    bool null(int row, int column) const { return PQgetisnull(res, row, column) != 0; }
    std::int64_t integer(int row, int column) const { return number(value(row, column)); }
};

PostgresStore::PostgresStore(const std::string& address, int lease_seconds, StoreOptions options)
    : lease_ms_(lease_seconds * 1000), options_(options) {
    conn_ = PQconnectdb(address.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        error_ = conn_ ? PQerrorMessage(conn_) : "out of memory";
        while (!error_.empty() && (error_.back() == '\n' || error_.back() == ' '))
            error_.pop_back();
        return;
    }
    std::lock_guard lock(mutex_);
    // "already exists, skipping" at every start is no news to the user.
    ok_ = command("SET client_min_messages = warning") && create_tables();
}

PostgresStore::~PostgresStore() {
    if (conn_) PQfinish(conn_);
}

PostgresStore::Result PostgresStore::exec(const std::string& sql,
                                          const std::vector<std::string>& params) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const std::string& p : params)
        values.push_back(p.c_str());
    Result r;
    r.res = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                         values.data(), nullptr, nullptr, 0);
    const ExecStatusType status = r.res ? PQresultStatus(r.res) : PGRES_FATAL_ERROR;
    r.good = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!r.good) {
        error_ = PQerrorMessage(conn_);
        while (!error_.empty() && (error_.back() == '\n' || error_.back() == ' '))
            error_.pop_back();
    }
    return r;
}

bool PostgresStore::command(const std::string& sql, const std::vector<std::string>& params) {
    return exec(sql, params).good;
}

bool PostgresStore::create_tables() {
    if (!command("BEGIN") || !command(kSchemaLock)) {
        command("ROLLBACK");
        return false;
    }
    for (const char* sql : kTables)
        if (!command(sql)) {
            command("ROLLBACK");
            return false;
        }
    return command("COMMIT");
}

std::string PostgresStore::last_error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::int64_t PostgresStore::begin_run(RunKind kind, std::string_view parameters) {
    std::lock_guard lock(mutex_);
    const Result r = exec("INSERT INTO runs (kind, parameters, started_ms) VALUES ($1, $2, " +
                              kNow + ") RETURNING id",
                          {std::to_string(static_cast<int>(kind)), std::string(parameters)});
    return r.good && r.rows() == 1 ? r.integer(0, 0) : 0;
}

bool PostgresStore::end_run(std::int64_t run, RunEnding ending) {
    std::lock_guard lock(mutex_);
    return command("UPDATE runs SET ended_ms = " + kNow + ", ending = $2 WHERE id = $1",
                   {std::to_string(run), std::to_string(static_cast<int>(ending))});
}

std::string PostgresStore::archived_body(const AnswerPage& page) const {
    return options_.keep_answers ? bytea_text(compress_answer(page.body)) : std::string();
}

std::string PostgresStore::insert_answer(const AnswerPage& page, const std::string& body) {
    const std::string run = std::to_string(page.run);
    const std::string time_ms =
        std::to_string(page.source.time_ms != 0 ? page.source.time_ms : store_time_ms());
    const Result answer =
        options_.keep_answers
            ? exec(
                  "INSERT INTO answers (run, service, address, page, time_ms, body, body_size, "
                  "report) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) RETURNING id",
                  {run, page.source.service, utf8(page.source.address),
                   std::to_string(page.source.page), time_ms, body,
                   std::to_string(page.body.size()), page.report ? "1" : "0"})
            : exec(
                  "INSERT INTO answers (run, service, address, page, time_ms) VALUES ($1, $2, "
                  "$3, $4, $5) RETURNING id",
                  {run, page.source.service, utf8(page.source.address),
                   std::to_string(page.source.page), time_ms});
    return answer.good && answer.rows() == 1 ? std::string(answer.value(0, 0)) : std::string();
}

bool PostgresStore::write_page(const AnswerPage& page) {
    if (page.report && !options_.keep_answers) return true;  // the report file is all there is
    // Compressed before the lock, so that workers compress at the same time.
    const std::string body = archived_body(page);
    std::lock_guard lock(mutex_);
    if (!command("BEGIN")) return false;
    auto fail = [this] {
        command("ROLLBACK");
        return false;
    };
    const std::string run = std::to_string(page.run);
    const std::string answer_id = insert_answer(page, body);
    if (answer_id.empty()) return fail();
    for (const ItemRow& item : page.items)
        if (!command("INSERT INTO items (run, serial, address, item_id, shop_id, answer) VALUES "
                     "($1, $2, $3, $4, $5, $6)",
                     {run, std::to_string(item.serial), utf8(item.address), utf8(item.item_id),
                      utf8(item.shop_id), answer_id}))
            return fail();
    for (const BuyerRow& buyer : page.buyers) {
        const bool added =
            buyer.serial > 0
                ? command(
                      "INSERT INTO buyers (run, serial, buyer_id, item_id, answer) VALUES ($1, "
                      "$2, $3, $4, $5) ON CONFLICT DO NOTHING",
                      {run, std::to_string(buyer.serial), utf8(buyer.buyer_id), utf8(buyer.item_id),
                       answer_id})
                : command(
                      "INSERT INTO buyers (run, buyer_id, item_id, answer) VALUES ($1, $2, $3, "
                      "$4) ON CONFLICT DO NOTHING",
                      {run, utf8(buyer.buyer_id), utf8(buyer.item_id), answer_id});
        if (!added) return fail();
    }
    for (const UrlStateChange& change : page.url_states)
        if (!command("UPDATE urls SET state = $3, claimed_ms = COALESCE(claimed_ms, " + kNow +
                         ") WHERE run = $1 AND position = $2",
                     {run, std::to_string(change.position),
                      std::to_string(static_cast<int>(change.state))}))
            return fail();
    return command("COMMIT") || fail();
}

bool PostgresStore::put_urls(std::int64_t run, int first_position,
                             const std::vector<Text>& addresses) {
    std::lock_guard lock(mutex_);
    if (!command("BEGIN")) return false;
    int position = first_position;
    for (const Text& address : addresses)
        if (!command("INSERT INTO urls (run, position, address) VALUES ($1, $2, $3)",
                     {std::to_string(run), std::to_string(position++), utf8(address)})) {
            command("ROLLBACK");
            return false;
        }
    return command("COMMIT");
}

bool PostgresStore::set_url_state(std::int64_t run, int position, UrlState state,
                                  std::string_view worker) {
    std::lock_guard lock(mutex_);
    if (state == UrlState::open)
        return command(
            "UPDATE urls SET state = 0, worker = NULL, claimed_ms = NULL, lease_until_ms = NULL "
            "WHERE run = $1 AND position = $2",
            {std::to_string(run), std::to_string(position)});
    return command("UPDATE urls SET state = $3, worker = $4, claimed_ms = COALESCE(claimed_ms, " +
                       kNow + ") WHERE run = $1 AND position = $2",
                   {std::to_string(run), std::to_string(position),
                    std::to_string(static_cast<int>(state)), std::string(worker)});
}

std::optional<UrlClaim> PostgresStore::claim_url(std::int64_t run, std::string_view worker) {
    std::lock_guard lock(mutex_);
    // SKIP LOCKED: a row another process is claiming right now is passed over, not waited for.
    const Result r = exec(
        "UPDATE urls SET state = 1, worker = $2, claimed_ms = " + kNow +
            ", lease_until_ms = " + kNow +
            " + $3 WHERE run = $1 AND position = (SELECT position FROM urls WHERE run = $1 AND "
            "(state = 0 OR (state = 1 AND lease_until_ms < " +
            kNow +
            ")) ORDER BY position LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING position, address",
        {std::to_string(run), std::string(worker), std::to_string(lease_ms_)});
    if (!r.good || r.rows() != 1) return std::nullopt;
    return UrlClaim{static_cast<int>(r.integer(0, 0)), utf8_to_gbk(r.value(0, 1))};
}

bool PostgresStore::renew_lease(std::int64_t run, int position, std::string_view worker) {
    std::lock_guard lock(mutex_);
    const Result r =
        exec("UPDATE urls SET lease_until_ms = " + kNow +
                 " + $4 WHERE run = $1 AND position = $2 AND state = 1 AND worker = $3",
             {std::to_string(run), std::to_string(position), std::string(worker),
              std::to_string(lease_ms_)});
    return r.good && std::atoi(PQcmdTuples(r.res)) == 1;
}

int PostgresStore::unfinished_urls(std::int64_t run) {
    std::lock_guard lock(mutex_);
    const Result r =
        exec("SELECT count(*) FROM urls WHERE run = $1 AND state <> 2", {std::to_string(run)});
    return r.good && r.rows() == 1 ? static_cast<int>(r.integer(0, 0)) : -1;
}

std::int64_t PostgresStore::open_queue(const std::string& name, const std::vector<Text>* addresses,
                                       bool* loaded) {
    std::lock_guard lock(mutex_);
    if (loaded) *loaded = false;
    if (!command("BEGIN") || !command(kSchemaLock)) {
        command("ROLLBACK");
        return 0;
    }
    const Result found = exec("SELECT run FROM queues WHERE name = $1", {name});
    if (!found.good) {
        command("ROLLBACK");
        return 0;
    }
    if (found.rows() == 1) {
        const std::int64_t run = found.integer(0, 0);
        return command("COMMIT") ? run : 0;
    }
    if (!addresses) {
        command("ROLLBACK");
        error_ = "queue " + name + " does not exist";
        return 0;
    }
    const Result made = exec("INSERT INTO runs (kind, parameters, started_ms) VALUES ($1, $2, " +
                                 kNow + ") RETURNING id",
                             {std::to_string(static_cast<int>(RunKind::reviews)), "queue=" + name});
    if (!made.good || made.rows() != 1) {
        command("ROLLBACK");
        return 0;
    }
    const std::int64_t run = made.integer(0, 0);
    bool good =
        command("INSERT INTO queues (name, run) VALUES ($1, $2)", {name, std::to_string(run)});
    int position = 0;
    for (const Text& address : *addresses) {
        if (!good) break;
        good = command("INSERT INTO urls (run, position, address) VALUES ($1, $2, $3)",
                       {std::to_string(run), std::to_string(position++), utf8(address)});
    }
    if (!good || !command("COMMIT")) {
        command("ROLLBACK");
        return 0;
    }
    if (loaded) *loaded = true;
    return run;
}

std::int64_t PostgresStore::join_run(std::int64_t run, const std::string& worker_name) {
    std::lock_guard lock(mutex_);
    const Result r = exec(
        "INSERT INTO workers (run, name, started_ms) VALUES ($1, $2, " + kNow + ") RETURNING id",
        {std::to_string(run), worker_name});
    return r.good && r.rows() == 1 ? r.integer(0, 0) : 0;
}

int PostgresStore::finish_address(std::int64_t run, int position, std::int64_t worker_id,
                                  std::string_view worker, const std::vector<AnswerPage>& pages) {
    std::vector<std::string> bodies;
    bodies.reserve(pages.size());
    for (const AnswerPage& page : pages)
        bodies.push_back(archived_body(page));
    std::lock_guard lock(mutex_);
    if (!command("BEGIN")) return -1;
    auto fail = [this] {
        command("ROLLBACK");
        return -1;
    };
    const std::string run_text = std::to_string(run);
    const std::string worker_text = std::to_string(worker_id);
    int added = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
        const std::string answer_id = insert_answer(pages[p], bodies[p]);
        if (answer_id.empty()) return fail();
        for (const BuyerRow& buyer : pages[p].buyers) {
            const Result r = exec(
                "INSERT INTO buyers (run, buyer_id, item_id, answer, worker) VALUES ($1, $2, $3, "
                "$4, $5) ON CONFLICT DO NOTHING",
                {run_text, utf8(buyer.buyer_id), utf8(buyer.item_id), answer_id, worker_text});
            if (!r.good) return fail();
            added += std::atoi(PQcmdTuples(r.res));
        }
    }
    if (!command("UPDATE urls SET state = 2, worker = $3 WHERE run = $1 AND position = $2",
                 {run_text, std::to_string(position), std::string(worker)}) ||
        !command("UPDATE workers SET addresses = addresses + 1, rows = rows + $2 WHERE id = $1",
                 {worker_text, std::to_string(added)}))
        return fail();
    return command("COMMIT") ? added : fail();
}

std::vector<RunInfo> PostgresStore::unfinished_runs() {
    std::lock_guard lock(mutex_);
    std::vector<RunInfo> runs;
    const Result r = exec(
        "SELECT id, kind, parameters, started_ms FROM runs WHERE ended_ms IS NULL ORDER BY id "
        "DESC");
    for (int i = 0; i < r.rows(); ++i) {
        RunInfo info;
        info.id = r.integer(i, 0);
        info.kind = static_cast<RunKind>(r.integer(i, 1));
        info.parameters = r.value(i, 2);
        info.started_ms = r.integer(i, 3);
        runs.push_back(std::move(info));
    }
    return runs;
}

StoredRows PostgresStore::rows(std::int64_t run) {
    std::lock_guard lock(mutex_);
    StoredRows stored;
    const Result items =
        exec("SELECT serial, address, item_id, shop_id FROM items WHERE run = $1 ORDER BY serial",
             {std::to_string(run)});
    for (int i = 0; i < items.rows(); ++i)
        stored.items.push_back({items.integer(i, 0), utf8_to_gbk(items.value(i, 1)),
                                utf8_to_gbk(items.value(i, 2)), utf8_to_gbk(items.value(i, 3))});
    const Result buyers =
        exec("SELECT serial, buyer_id, item_id FROM buyers WHERE run = $1 ORDER BY serial",
             {std::to_string(run)});
    for (int i = 0; i < buyers.rows(); ++i)
        stored.buyers.push_back({buyers.integer(i, 0), utf8_to_gbk(buyers.value(i, 1)),
                                 utf8_to_gbk(buyers.value(i, 2))});
    return stored;
}

std::vector<StoredUrl> PostgresStore::urls(std::int64_t run) {
    std::lock_guard lock(mutex_);
    std::vector<StoredUrl> list;
    const Result r =
        exec("SELECT position, address, state FROM urls WHERE run = $1 ORDER BY position",
             {std::to_string(run)});
    for (int i = 0; i < r.rows(); ++i)
        list.push_back({static_cast<int>(r.integer(i, 0)), utf8_to_gbk(r.value(i, 1)),
                        static_cast<UrlState>(r.integer(i, 2))});
    return list;
}

std::vector<StoredAnswer> PostgresStore::answers(std::int64_t run) {
    std::lock_guard lock(mutex_);
    std::vector<StoredAnswer> list;
    const Result r = exec(
        "SELECT service, address, page, time_ms, body, body_size, report FROM answers WHERE run "
        "= $1 AND body IS NOT NULL ORDER BY id",
        {std::to_string(run)});
    for (int i = 0; i < r.rows(); ++i) {
        std::optional<std::string> body =
            decompress_answer(bytea_bytes(r.value(i, 4)), static_cast<size_t>(r.integer(i, 5)));
        list.push_back({{r.value(i, 0), utf8_to_gbk(r.value(i, 1)),
                         static_cast<int>(r.integer(i, 2)), r.integer(i, 3)},
                        body ? std::move(*body) : std::string(),
                        r.integer(i, 6) != 0});
    }
    return list;
}

std::vector<AnswerSource> PostgresStore::answer_sources(std::int64_t run) {
    std::lock_guard lock(mutex_);
    std::vector<AnswerSource> sources;
    const Result r =
        exec("SELECT service, address, page, time_ms FROM answers WHERE run = $1 ORDER BY id",
             {std::to_string(run)});
    for (int i = 0; i < r.rows(); ++i)
        sources.push_back({r.value(i, 0), utf8_to_gbk(r.value(i, 1)),
                           static_cast<int>(r.integer(i, 2)), r.integer(i, 3)});
    return sources;
}

std::vector<QueueSummary> PostgresStore::queues() {
    std::lock_guard lock(mutex_);
    std::vector<QueueSummary> list;
    const Result q = exec(
        "SELECT q.run, q.name, "
        "(SELECT count(*) FROM urls u WHERE u.run = q.run AND u.state = 0), "
        "(SELECT count(*) FROM urls u WHERE u.run = q.run AND u.state = 1), "
        "(SELECT count(*) FROM urls u WHERE u.run = q.run AND u.state = 2), "
        "(SELECT count(*) FROM buyers b WHERE b.run = q.run) FROM queues q ORDER BY q.run");
    for (int i = 0; i < q.rows(); ++i) {
        QueueSummary s;
        s.run = q.integer(i, 0);
        s.queue = q.value(i, 1);
        s.open = static_cast<int>(q.integer(i, 2));
        s.claimed = static_cast<int>(q.integer(i, 3));
        s.done = static_cast<int>(q.integer(i, 4));
        s.buyers = static_cast<int>(q.integer(i, 5));
        const Result w =
            exec("SELECT id, name, addresses, rows FROM workers WHERE run = $1 ORDER BY id",
                 {std::to_string(s.run)});
        for (int j = 0; j < w.rows(); ++j)
            s.workers.push_back({w.integer(j, 0), w.value(j, 1), static_cast<int>(w.integer(j, 2)),
                                 static_cast<int>(w.integer(j, 3))});
        list.push_back(std::move(s));
    }
    return list;
}

std::vector<RunCounts> PostgresStore::run_counts() {
    std::lock_guard lock(mutex_);
    std::vector<RunCounts> runs;
    const Result r = exec(
        "SELECT r.id, r.kind, r.parameters, r.started_ms, r.ended_ms, r.ending, "
        "(SELECT count(*) FROM items i WHERE i.run = r.id), "
        "(SELECT count(*) FROM buyers b WHERE b.run = r.id), "
        "(SELECT count(*) FROM urls u WHERE u.run = r.id) FROM runs r ORDER BY r.id");
    for (int i = 0; i < r.rows(); ++i) {
        RunCounts counts;
        counts.run.id = r.integer(i, 0);
        counts.run.kind = static_cast<RunKind>(r.integer(i, 1));
        counts.run.parameters = r.value(i, 2);
        counts.run.started_ms = r.integer(i, 3);
        if (!r.null(i, 4)) counts.run.ended_ms = r.integer(i, 4);
        counts.run.ending = static_cast<RunEnding>(r.integer(i, 5));
        counts.items = r.integer(i, 6);
        counts.buyers = r.integer(i, 7);
        counts.urls = r.integer(i, 8);
        runs.push_back(std::move(counts));
    }
    return runs;
}
