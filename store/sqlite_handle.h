#pragma once
// The small RAII layer over SQLite's C API the store uses: one connection, prepared statements
// with typed binds and column reads. Result codes are returned, never thrown.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

class SqliteDb {
public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;
    SqliteDb(SqliteDb&& other) noexcept;
    SqliteDb& operator=(SqliteDb&& other) noexcept;

    // Opens (and with `create`, creates) the file; the SQLite result code.
    int open(const std::filesystem::path& path, bool create);
    void close();
    bool is_open() const { return db_ != nullptr; }
    // Runs statements that return no rows; the result code.
    int exec(const char* sql);
    std::string error_message() const;
    std::int64_t last_insert_id() const;
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

class SqliteStatement {
public:
    SqliteStatement(SqliteDb& db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // The result code of preparing; SQLITE_OK (0) when the statement can run.
    int prepared() const { return prepare_result_; }
    // Binds count from 1. Texts and blobs are copied.
    void bind(int index, std::int64_t value);
    void bind(int index, std::string_view text);
    void bind_blob(int index, std::string_view bytes);
    void bind_null(int index);
    // Not copied: the caller keeps the text unchanged until the next step.
    void bind_kept(int index, std::string_view text);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Ready for new binds and another run.
    void reset();

    std::int64_t column_int(int index) const;
    std::optional<std::int64_t> column_optional_int(int index) const;
    std::string column_text(int index) const;
    std::string column_blob(int index) const;

private:
    sqlite3_stmt* statement_ = nullptr;
    int prepare_result_ = 0;
};

// Commits when told, rolls back when left without commit (an error on the way).
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteDb& db);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    int begun() const { return begin_result_; }
    int commit();

private:
    SqliteDb& db_;
    int begin_result_ = 0;
    bool open_ = false;
};
