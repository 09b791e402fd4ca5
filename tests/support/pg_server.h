#pragma once
// A real PostgreSQL server in a temporary folder for the tests: initdb and pg_ctl of the
// installed server, run as the unprivileged "postgres" user when the tests run as root (the
// server refuses root), reached through a Unix socket in that folder only (no TCP port), trust
// authentication. Stopped and removed at the end.
#include <filesystem>
#include <string>
#include <vector>

class PgServer {
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    // postgresql://zembra@/postgres?host=<socket folder>&port=<port>
    std::string address() const;

private:
    bool run(const std::vector<std::string>& command);

    std::filesystem::path dir_;
    int port_ = 0;
    bool ok_ = false;
    bool as_postgres_ = false;
    std::string error_;
};
