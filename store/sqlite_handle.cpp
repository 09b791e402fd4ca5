#include "store/sqlite_handle.h"

#include <sqlite3.h>

#include <utility>

SqliteDb::~SqliteDb() {
    close();
}

SqliteDb::SqliteDb(SqliteDb&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

SqliteDb& SqliteDb::operator=(SqliteDb&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

int SqliteDb::open(const std::filesystem::path& path, bool create) {
    close();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (create) flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) return rc;
    // Another process (or a checkpoint) holding the file briefly is no failure.
    sqlite3_busy_timeout(db_, 5000);
    sqlite3_extended_result_codes(db_, 1);
    return rc;
}

void SqliteDb::close() {
    // sqlite3_close_v2 defers the close until every statement is finalised; ours are all scoped.
    if (db_ != nullptr) sqlite3_close_v2(std::exchange(db_, nullptr));
}

int SqliteDb::exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

std::string SqliteDb::error_message() const {
    return db_ != nullptr ? sqlite3_errmsg(db_) : "no database";
}

std::int64_t SqliteDb::last_insert_id() const {
    return sqlite3_last_insert_rowid(db_);
}

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) {
    prepare_result_ = sqlite3_prepare_v2(db.get(), sql.data(), static_cast<int>(sql.size()),
                                         &statement_, nullptr);
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(statement_);
}

void SqliteStatement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
}

void SqliteStatement::bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

void SqliteStatement::bind_kept(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void SqliteStatement::bind_blob(int index, std::string_view bytes) {
    sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_TRANSIENT);
}

void SqliteStatement::bind_null(int index) {
    sqlite3_bind_null(statement_, index);
}

int SqliteStatement::step() {
    if (statement_ == nullptr)
        return prepare_result_ != SQLITE_OK ? prepare_result_ : SQLITE_MISUSE;
    return sqlite3_step(statement_);
}

void SqliteStatement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

std::int64_t SqliteStatement::column_int(int index) const {
    return sqlite3_column_int64(statement_, index);
}

std::optional<std::int64_t> SqliteStatement::column_optional_int(int index) const {
    if (sqlite3_column_type(statement_, index) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_int64(statement_, index);
}

std::string SqliteStatement::column_text(int index) const {
    const auto* text = sqlite3_column_text(statement_, index);
    const int size = sqlite3_column_bytes(statement_, index);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
}

std::string SqliteStatement::column_blob(int index) const {
    const void* blob = sqlite3_column_blob(statement_, index);
    const int size = sqlite3_column_bytes(statement_, index);
    if (blob == nullptr) return {};
    return std::string(static_cast<const char*>(blob), static_cast<size_t>(size));
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) {
    // IMMEDIATE takes the write lock now, so a second writer waits here rather than failing later.
    begin_result_ = db_.exec("BEGIN IMMEDIATE");
    open_ = begin_result_ == SQLITE_OK;
}

SqliteTransaction::~SqliteTransaction() {
    if (open_) db_.exec("ROLLBACK");
}

int SqliteTransaction::commit() {
    if (!open_) return begin_result_ != SQLITE_OK ? begin_result_ : SQLITE_MISUSE;
    const int rc = db_.exec("COMMIT");
    if (rc == SQLITE_OK) open_ = false;
    return rc;
}
