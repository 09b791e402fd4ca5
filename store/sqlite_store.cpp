#include "store/sqlite_store.h"

#include <sqlite3.h>

#include <array>
#include <system_error>

#include "runtime/gbk.h"
#include "store/answer_codec.h"
#include "store/json_string.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS runs(
    id INTEGER PRIMARY KEY,
    kind INTEGER NOT NULL,
    parameters TEXT NOT NULL,
    started_ms INTEGER NOT NULL,
    ended_ms INTEGER,
    ending INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS answers(
    id INTEGER PRIMARY KEY,
    run INTEGER NOT NULL,
    service TEXT NOT NULL,
    address TEXT NOT NULL,
    page INTEGER NOT NULL,
    time_ms INTEGER NOT NULL,
    body BLOB,
    body_size INTEGER,
    report INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS answers_by_run ON answers(run);
CREATE TABLE IF NOT EXISTS items(
    run INTEGER NOT NULL,
    serial INTEGER NOT NULL,
    address TEXT NOT NULL,
    item_id TEXT NOT NULL,
    shop_id TEXT NOT NULL,
    answer INTEGER NOT NULL,
    PRIMARY KEY(run, serial)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS buyer_pages(
    id INTEGER PRIMARY KEY,
    run INTEGER NOT NULL,
    first_serial INTEGER NOT NULL,
    buyer_ids TEXT NOT NULL,
    item_id TEXT NOT NULL,
    answer INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS buyer_pages_by_run ON buyer_pages(run, first_serial);
CREATE TABLE IF NOT EXISTS urls(
    run INTEGER NOT NULL,
    position INTEGER NOT NULL,
    address TEXT NOT NULL,
    state INTEGER NOT NULL DEFAULT 0,
    worker TEXT,
    claimed_ms INTEGER,
    PRIMARY KEY(run, position)) WITHOUT ROWID;
)sql";

// One row a buyer, numbered on from its page's first; a number written again keeps the row first
// written. Made after the tables (see kBuyersFromRows).
constexpr const char* kBuyersView = R"sql( AS
    SELECT run, serial, buyer_id, item_id, answer FROM (
        SELECT p.run, p.first_serial + j.key AS serial, j.value AS buyer_id, p.item_id, p.answer,
               min(p.id)
        FROM buyer_pages p, json_each(p.buyer_ids) j GROUP BY p.run, serial);
)sql";

constexpr const char* kSourceViews = R"sql(
CREATE VIEW IF NOT EXISTS buyer_sources AS
    SELECT b.run, b.serial, b.buyer_id, b.item_id, a.service, a.address, a.page, a.time_ms
    FROM buyers b JOIN answers a ON a.id = b.answer;
CREATE VIEW IF NOT EXISTS item_sources AS
    SELECT i.run, i.serial, i.address AS item_address, i.item_id, i.shop_id, a.service,
           a.address, a.page, a.time_ms
    FROM items i JOIN answers a ON a.id = i.answer;
)sql";

// Files made when every buyer had a row of its own: each row becomes a page of one buyer, in the
// same transaction as the view that takes the table's name.
constexpr const char* kBuyersFromRows = R"sql(
INSERT INTO buyer_pages(run, first_serial, buyer_ids, item_id, answer)
    SELECT run, serial, json_array(buyer_id), item_id, answer FROM buyers ORDER BY run, serial;
DROP TABLE buyers;
)sql";

bool damaged(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

std::string utf8(const Text& gbk) {
    return gbk_to_utf8(gbk);
}

// Rows' texts as UTF-8, bound without a copy: an ASCII text as the row holds it (the rows outlive
// their statement), any other converted into memory reused from row to row and kept until the
// rows' statement has run. Sized once: a bound text must not move.
class RowTexts {
public:
    explicit RowTexts(size_t texts) : texts_(texts) {}
    std::string_view operator()(size_t index, const Text& gbk) {
        if (all_ascii(gbk)) return gbk;  // IDs and most addresses: bound as they stand
        std::string& text = texts_.at(index);
        gbk_to_utf8(gbk, text, nullptr);
        return text;
    }

private:
    std::vector<std::string> texts_;
};

// The length of the run of buyers from `first` on that one row can hold: numbered one after the
// other, of one item (a harvested page is one such run).
size_t buyers_in_a_row(const std::vector<BuyerRow>& buyers, size_t first) {
    size_t last = first;
    while (last + 1 < buyers.size() && buyers[last + 1].serial == buyers[last].serial + 1 &&
           buyers[last + 1].item_id == buyers[first].item_id)
        ++last;
    return last - first + 1;
}

// Buyer IDs as a JSON array of strings, in list order, into `json`.
void buyer_ids_json(const BuyerRow* buyers, size_t count, std::string& json) {
    std::string utf8_id;
    json = '[';
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) json += ',';
        const Text& id = buyers[i].buyer_id;
        if (all_ascii(id)) {
            json_string(json, id);
        } else {
            gbk_to_utf8(id, utf8_id, nullptr);
            json_string(json, utf8_id);
        }
    }
    json += ']';
}

// Moves the file and its journal files aside; the new name of the file, empty on failure.
fs::path set_aside(const fs::path& path) {
    const fs::path aside = path.string() + ".corrupt-" + std::to_string(store_time_ms());
    std::error_code ec;
    fs::rename(path, aside, ec);
    if (ec) return {};
    for (const char* suffix : {"-wal", "-shm"}) {
        const fs::path journal = path.string() + suffix;
        if (fs::exists(journal, ec)) fs::rename(journal, aside.string() + suffix, ec);
    }
    return aside;
}

}  // namespace

fs::path store_path(const fs::path& folder) {
    return folder / "zembra.db";
}

SqliteStore::SqliteStore(fs::path path, StoreOptions options)
    : path_(std::move(path)), options_(options) {}

std::unique_ptr<SqliteStore> SqliteStore::open(const fs::path& path, StoreOptions options,
                                               std::string* error) {
    std::unique_ptr<SqliteStore> store(new SqliteStore(path, options));
    int rc = store->db_.open(path, true);
    if (rc == SQLITE_OK) rc = store->prepare();
    if (damaged(rc)) {
        store->db_.close();
        const fs::path aside = set_aside(path);
        if (aside.empty()) {
            if (error != nullptr) *error = "结果库 " + path.string() + " 已损坏，且无法改名移开。";
            return nullptr;
        }
        store->notice_ = "结果库 " + path.string() + " 已损坏，已改名为 " + aside.string() +
                         "，并新建了一个空的结果库。";
        rc = store->db_.open(path, true);
        if (rc == SQLITE_OK) rc = store->prepare();
    }
    if (rc != SQLITE_OK) {
        if (error != nullptr)
            *error = "结果库 " + path.string() + " 无法打开：" + sqlite3_errstr(rc);
        return nullptr;
    }
    return store;
}

int SqliteStore::prepare() {
    // Reading the header first tells a file that is no database before anything is written.
    int rc = db_.exec("SELECT count(*) FROM sqlite_master");
    if (rc == SQLITE_OK) rc = db_.exec("PRAGMA journal_mode=WAL");
    if (rc == SQLITE_OK) rc = db_.exec("PRAGMA synchronous=NORMAL");
    if (rc == SQLITE_OK) rc = db_.exec(kSchema);
    if (rc == SQLITE_OK) rc = buyers_by_page();
    if (rc == SQLITE_OK)
        rc = db_.exec((std::string("CREATE VIEW IF NOT EXISTS buyers") + kBuyersView).c_str());
    if (rc == SQLITE_OK) rc = db_.exec(kSourceViews);
    // A file made before answers were marked as reports gets the column.
    if (rc == SQLITE_OK &&
        SqliteStatement(db_, "SELECT report FROM answers").prepared() != SQLITE_OK)
        rc = db_.exec("ALTER TABLE answers ADD COLUMN report INTEGER NOT NULL DEFAULT 0");
    // A damaged page deep in the file shows here rather than in the middle of a harvest.
    if (rc == SQLITE_OK) {
        SqliteStatement check(db_, "PRAGMA quick_check(1)");
        rc = check.prepared();
        if (rc == SQLITE_OK) {
            rc = check.step();
            if (rc == SQLITE_ROW) rc = check.column_text(0) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
        }
    }
    return rc;
}

int SqliteStore::buyers_by_page() {
    // Asked again inside the transaction: another program may have turned the file meanwhile.
    const auto buyers_table = [this](bool& table) {
        SqliteStatement kind(db_, "SELECT type FROM sqlite_master WHERE name = 'buyers'");
        int rc = kind.prepared();
        if (rc == SQLITE_OK) rc = kind.step();
        table = rc == SQLITE_ROW && kind.column_text(0) == "table";
        return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
    };
    bool table = false;
    int rc = buyers_table(table);
    if (rc != SQLITE_OK || !table) return rc;
    SqliteTransaction transaction(db_);
    rc = transaction.begun();
    if (rc == SQLITE_OK) rc = buyers_table(table);
    if (rc != SQLITE_OK || !table) return rc;
    rc = db_.exec(kBuyersFromRows);
    if (rc == SQLITE_OK) rc = db_.exec((std::string("CREATE VIEW buyers") + kBuyersView).c_str());
    if (rc == SQLITE_OK) rc = transaction.commit();
    return rc;
}

bool SqliteStore::fail(std::string_view what) {
    error_ = std::string(what) + "：" + db_.error_message();
    return false;
}

bool SqliteStore::fail_code(std::string_view what, int rc) {
    error_ = std::string(what) + "：" + sqlite3_errstr(rc);
    return false;
}

SqliteStatement& SqliteStore::cached(std::unique_ptr<SqliteStatement>& slot, std::string_view sql) {
    if (!slot || slot->prepared() != SQLITE_OK)
        slot = std::make_unique<SqliteStatement>(db_, sql);
    else
        slot->reset();
    return *slot;
}

std::string SqliteStore::last_error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::int64_t SqliteStore::begin_run(RunKind kind, std::string_view parameters) {
    std::lock_guard lock(mutex_);
    SqliteStatement insert(db_, "INSERT INTO runs(kind, parameters, started_ms) VALUES(?, ?, ?)");
    insert.bind(1, static_cast<std::int64_t>(kind));
    insert.bind(2, parameters);
    insert.bind(3, store_time_ms());
    const int rc = insert.step();
    if (rc != SQLITE_DONE) {
        fail_code("结果库无法记下新的采集", rc);
        return 0;
    }
    return db_.last_insert_id();
}

bool SqliteStore::end_run(std::int64_t run, RunEnding ending) {
    std::lock_guard lock(mutex_);
    SqliteStatement update(db_, "UPDATE runs SET ended_ms = ?, ending = ? WHERE id = ?");
    if (ending == RunEnding::running)
        update.bind_null(1);
    else
        update.bind(1, store_time_ms());
    update.bind(2, static_cast<std::int64_t>(ending));
    update.bind(3, run);
    const int rc = update.step();
    if (rc != SQLITE_DONE) return fail_code("结果库无法记下采集的结束", rc);
    return true;
}

std::vector<bool> SqliteStore::grouped(const std::vector<std::function<bool()>>& writes) {
    if (writes.empty()) return {};
    std::vector<Pending> mine;
    mine.reserve(writes.size());
    for (const auto& write : writes)
        mine.push_back({&write});
    std::unique_lock lock(queue_mutex_);
    // Queued together, so one group takes them all.
    for (Pending& pending : mine)
        queue_.push_back(&pending);
    while (!mine.front().done) {
        if (committing_) {
            committed_.wait(lock);
            continue;
        }
        // Nobody commits: this caller commits every write waiting, its own among them.
        committing_ = true;
        std::vector<Pending*> group;
        group.swap(queue_);
        lock.unlock();
        commit_group(group);
        lock.lock();
        committing_ = false;
        for (Pending* pending : group)
            pending->done = true;
        committed_.notify_all();
    }
    std::vector<bool> committed;
    committed.reserve(mine.size());
    for (const Pending& pending : mine)
        committed.push_back(pending.ok);
    return committed;
}

void SqliteStore::commit_group(const std::vector<Pending*>& group) {
    std::lock_guard lock(mutex_);
    constexpr std::string_view what = "结果库写入失败";
    if (group.size() > 1) {
        SqliteTransaction transaction(db_);
        bool ok = transaction.begun() == SQLITE_OK;
        for (size_t i = 0; ok && i < group.size(); ++i)
            ok = (*group[i]->write)();
        if (ok && transaction.commit() == SQLITE_OK) {
            for (Pending* pending : group)
                pending->ok = true;
            return;
        }
    }
    // Alone, or again one by one after the group failed: a bad write fails only itself.
    for (Pending* pending : group) {
        SqliteTransaction transaction(db_);
        if (transaction.begun() != SQLITE_OK) {
            fail_code(what, transaction.begun());
            continue;
        }
        if (!(*pending->write)()) continue;
        const int rc = transaction.commit();
        if (rc != SQLITE_OK) {
            fail_code(what, rc);
            continue;
        }
        pending->ok = true;
    }
}

bool SqliteStore::write_page(const AnswerPage& page) {
    if (page.report && !options_.keep_answers) return true;  // the report file is all there is
    // Compressed before the lock, so that workers compress at the same time.
    const std::string body = options_.keep_answers ? compress_answer(page.body) : std::string();
    return grouped([&] { return write_page_rows(page, body); });
}

std::vector<bool> SqliteStore::write_pages(const std::vector<const AnswerPage*>& pages) {
    std::vector<std::string> bodies(pages.size());
    std::vector<std::function<bool()>> writes;
    writes.reserve(pages.size());
    for (size_t i = 0; i < pages.size(); ++i) {
        const AnswerPage& page = *pages[i];
        if (page.report && !options_.keep_answers) {
            writes.emplace_back([] { return true; });
            continue;
        }
        if (options_.keep_answers) bodies[i] = compress_answer(page.body);
        writes.emplace_back(
            [this, &page, &body = bodies[i]] { return write_page_rows(page, body); });
    }
    return grouped(writes);
}

// The answer and its rows, in the caller's transaction.
bool SqliteStore::write_page_rows(const AnswerPage& page, std::string_view compressed) {
    constexpr std::string_view what = "结果库写入失败";
    SqliteStatement& answer = cached(insert_answer_,
                                     "INSERT INTO answers(run, service, address, page, time_ms, "
                                     "body, body_size, report) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    answer.bind(1, page.run);
    answer.bind(2, page.source.service);
    answer.bind(3, utf8(page.source.address));
    answer.bind(4, static_cast<std::int64_t>(page.source.page));
    answer.bind(5, page.source.time_ms != 0 ? page.source.time_ms : store_time_ms());
    if (options_.keep_answers) {
        answer.bind_blob(6, compressed);
        answer.bind(7, static_cast<std::int64_t>(page.body.size()));
    } else {
        answer.bind_null(6);
        answer.bind_null(7);
    }
    answer.bind(8, static_cast<std::int64_t>(page.report ? 1 : 0));
    int rc = answer.step();
    if (rc != SQLITE_DONE) return fail_code(what, rc);
    const std::int64_t answer_id = db_.last_insert_id();

    // A row written again (the same run and number) stays as first written.
    if (!page.items.empty()) {
        SqliteStatement& item = cached(insert_item_,
                                       "INSERT OR IGNORE INTO items(run, serial, address, "
                                       "item_id, shop_id, answer) VALUES(?, ?, ?, ?, ?, ?)");
        RowTexts texts(3);
        for (const ItemRow& row : page.items) {
            item.bind(1, page.run);
            item.bind(2, row.serial);
            item.bind_kept(3, texts(0, row.address));
            item.bind_kept(4, texts(1, row.item_id));
            item.bind_kept(5, texts(2, row.shop_id));
            item.bind(6, answer_id);
            rc = item.step();
            if (rc != SQLITE_DONE) return fail_code(what, rc);
            item.reset();
        }
    }
    // A row for the page's buyers, their numbers following on from the first.
    RowTexts item_text(1);
    for (size_t first = 0; first < page.buyers.size();) {
        const size_t count = buyers_in_a_row(page.buyers, first);
        SqliteStatement& buyers = cached(insert_buyers_,
                                         "INSERT INTO buyer_pages(run, first_serial, buyer_ids, "
                                         "item_id, answer) VALUES(?, ?, ?, ?, ?)");
        buyer_ids_json(&page.buyers[first], count, buyer_ids_);
        buyers.bind(1, page.run);
        buyers.bind(2, page.buyers[first].serial);
        buyers.bind_kept(3, buyer_ids_);
        buyers.bind_kept(4, item_text(0, page.buyers[first].item_id));
        buyers.bind(5, answer_id);
        rc = buyers.step();
        if (rc != SQLITE_DONE) return fail_code(what, rc);
        first += count;
    }
    for (const UrlStateChange& change : page.url_states)
        if (!write_url_state(page.run, change.position, change.state, {})) return false;
    return true;
}

bool SqliteStore::put_urls(std::int64_t run, int first_position,
                           const std::vector<Text>& addresses) {
    std::lock_guard lock(mutex_);
    constexpr std::string_view what = "结果库无法记下URL列表";
    SqliteTransaction transaction(db_);
    if (transaction.begun() != SQLITE_OK) return fail_code(what, transaction.begun());
    SqliteStatement insert(
        db_, "INSERT OR REPLACE INTO urls(run, position, address, state) VALUES(?, ?, ?, 0)");
    int position = first_position;
    for (const Text& address : addresses) {
        insert.bind(1, run);
        insert.bind(2, static_cast<std::int64_t>(position++));
        insert.bind(3, utf8(address));
        const int rc = insert.step();
        if (rc != SQLITE_DONE) return fail_code(what, rc);
        insert.reset();
    }
    const int rc = transaction.commit();
    if (rc != SQLITE_OK) return fail_code(what, rc);
    return true;
}

bool SqliteStore::set_url_state(std::int64_t run, int position, UrlState state,
                                std::string_view worker) {
    return grouped([&] { return write_url_state(run, position, state, worker); });
}

bool SqliteStore::write_url_state(std::int64_t run, int position, UrlState state,
                                  std::string_view worker) {
    SqliteStatement& update = cached(url_state_,
                                     "UPDATE urls SET state = ?, worker = coalesce(?, worker), "
                                     "claimed_ms = coalesce(claimed_ms, ?) WHERE run = ? AND "
                                     "position = ?");
    update.bind(1, static_cast<std::int64_t>(state));
    if (worker.empty())
        update.bind_null(2);
    else
        update.bind(2, worker);
    if (state == UrlState::open)
        update.bind_null(3);
    else
        update.bind(3, store_time_ms());
    update.bind(4, run);
    update.bind(5, static_cast<std::int64_t>(position));
    const int rc = update.step();
    if (rc != SQLITE_DONE) return fail_code("结果库无法记下URL的进度", rc);
    return true;
}

std::optional<UrlClaim> SqliteStore::claim_url(std::int64_t run, std::string_view worker) {
    std::lock_guard lock(mutex_);
    // One statement, so two connections never take the same row.
    SqliteStatement claim(db_,
                          "UPDATE urls SET state = 1, worker = ?, claimed_ms = ? "
                          "WHERE run = ? AND position = (SELECT min(position) FROM urls "
                          "WHERE run = ? AND state = 0) RETURNING position, address");
    claim.bind(1, worker);
    claim.bind(2, store_time_ms());
    claim.bind(3, run);
    claim.bind(4, run);
    const int rc = claim.step();
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE) fail_code("结果库无法分配URL", rc);
        return std::nullopt;
    }
    UrlClaim taken{static_cast<int>(claim.column_int(0)), utf8_to_gbk(claim.column_text(1))};
    claim.step();  // finish the statement so its change is complete
    return taken;
}

std::vector<RunInfo> SqliteStore::unfinished_runs() {
    std::lock_guard lock(mutex_);
    std::vector<RunInfo> runs;
    SqliteStatement select(db_,
                           "SELECT id, kind, parameters, started_ms FROM runs "
                           "WHERE ended_ms IS NULL ORDER BY id DESC");
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        RunInfo run;
        run.id = select.column_int(0);
        run.kind = static_cast<RunKind>(select.column_int(1));
        run.parameters = select.column_text(2);
        run.started_ms = select.column_int(3);
        runs.push_back(std::move(run));
    }
    if (rc != SQLITE_DONE) fail_code("结果库无法读取", rc);
    return runs;
}

std::vector<RunCounts> SqliteStore::run_counts() {
    std::lock_guard lock(mutex_);
    std::vector<RunCounts> runs;
    SqliteStatement select(db_,
                           "SELECT r.id, r.kind, r.parameters, r.started_ms, r.ended_ms, r.ending, "
                           "(SELECT count(*) FROM items i WHERE i.run = r.id), "
                           "(SELECT count(DISTINCT b.first_serial + j.key) FROM buyer_pages b, "
                           "json_each(b.buyer_ids) j WHERE b.run = r.id), "
                           "(SELECT count(*) FROM urls u WHERE u.run = r.id) "
                           "FROM runs r ORDER BY r.id");
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        RunCounts counts;
        counts.run.id = select.column_int(0);
        counts.run.kind = static_cast<RunKind>(select.column_int(1));
        counts.run.parameters = select.column_text(2);
        counts.run.started_ms = select.column_int(3);
        if (select.column_int(4) != 0) counts.run.ended_ms = select.column_int(4);
        counts.run.ending = static_cast<RunEnding>(select.column_int(5));
        counts.items = select.column_int(6);
        counts.buyers = select.column_int(7);
        counts.urls = select.column_int(8);
        runs.push_back(std::move(counts));
    }
    if (rc != SQLITE_DONE) fail_code("结果库无法读取", rc);
    return runs;
}

StoredRows SqliteStore::rows(std::int64_t run) {
    std::lock_guard lock(mutex_);
    StoredRows stored;
    int rc;
    SqliteStatement items(
        db_, "SELECT serial, address, item_id, shop_id FROM items WHERE run = ? ORDER BY serial");
    items.bind(1, run);
    while ((rc = items.step()) == SQLITE_ROW)
        stored.items.push_back({items.column_int(0), utf8_to_gbk(items.column_text(1)),
                                utf8_to_gbk(items.column_text(2)),
                                utf8_to_gbk(items.column_text(3))});
    if (rc != SQLITE_DONE) fail_code("结果库无法读取", rc);
    SqliteStatement buyers(
        db_, "SELECT serial, buyer_id, item_id FROM buyers WHERE run = ? ORDER BY serial");
    buyers.bind(1, run);
    while ((rc = buyers.step()) == SQLITE_ROW)
        stored.buyers.push_back({buyers.column_int(0), utf8_to_gbk(buyers.column_text(1)),
                                 utf8_to_gbk(buyers.column_text(2))});
    if (rc != SQLITE_DONE) fail_code("结果库无法读取", rc);
    return stored;
}

std::vector<StoredUrl> SqliteStore::urls(std::int64_t run) {
    std::lock_guard lock(mutex_);
    std::vector<StoredUrl> urls;
    SqliteStatement select(
        db_, "SELECT position, address, state FROM urls WHERE run = ? ORDER BY position");
    select.bind(1, run);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW)
        urls.push_back({static_cast<int>(select.column_int(0)), utf8_to_gbk(select.column_text(1)),
                        static_cast<UrlState>(select.column_int(2))});
    if (rc != SQLITE_DONE) fail_code("结果库无法读取", rc);
    return urls;
}

std::vector<StoredAnswer> SqliteStore::answers(std::int64_t run) {
    std::lock_guard lock(mutex_);
    std::vector<StoredAnswer> answers;
    SqliteStatement select(
        db_,
        "SELECT service, address, page, time_ms, body, body_size, report FROM answers "
        "WHERE run = ? AND body IS NOT NULL ORDER BY id");
    select.bind(1, run);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        StoredAnswer answer;
        answer.source = {select.column_text(0), utf8_to_gbk(select.column_text(1)),
                         static_cast<int>(select.column_int(2)), select.column_int(3)};
        const auto body =
            decompress_answer(select.column_blob(4), static_cast<size_t>(select.column_int(5)));
        if (body) answer.body = *body;
        answer.report = select.column_int(6) != 0;
        answers.push_back(std::move(answer));
    }
    if (rc != SQLITE_DONE) fail_code("结果库无法读取", rc);
    return answers;
}

std::vector<AnswerSource> SqliteStore::answer_sources(std::int64_t run) {
    std::lock_guard lock(mutex_);
    std::vector<AnswerSource> sources;
    SqliteStatement select(
        db_, "SELECT service, address, page, time_ms FROM answers WHERE run = ? ORDER BY id");
    select.bind(1, run);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW)
        sources.push_back({select.column_text(0), utf8_to_gbk(select.column_text(1)),
                           static_cast<int>(select.column_int(2)), select.column_int(3)});
    if (rc != SQLITE_DONE) fail_code("结果库无法读取", rc);
    return sources;
}
