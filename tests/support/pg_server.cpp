#include "tests/support/pg_server.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "tests/support/child_process.h"

namespace {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";
std::atomic<int> g_servers{0};

}  // namespace

PgServer::PgServer() {
    dir_ = std::filesystem::temp_directory_path() /
           ("zembra_pg_" + std::to_string(::getpid()) + "_" + std::to_string(++g_servers));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    // The socket's name carries the port; nothing listens on TCP, so any number is free.
    port_ = 40000 + static_cast<int>(::getpid() % 20000);
    as_postgres_ = ::geteuid() == 0;
    if (as_postgres_) {
        const passwd* user = ::getpwnam("postgres");
        if (!user) {
            error_ = "running as root and there is no postgres user to run the server";
            return;
        }
        std::filesystem::permissions(dir_, std::filesystem::perms::all);
        if (::chown(dir_.c_str(), user->pw_uid, user->pw_gid) != 0) {
            error_ = "cannot hand the server folder to postgres";
            return;
        }
    }
    const std::string data = (dir_ / "data").string();
    if (!run({std::string(kBin) + "initdb", "-D", data, "-U", "zembra", "-A", "trust", "-E", "UTF8",
              "--no-sync", "--locale=C"})) {
        error_ = "initdb failed: " + error_;
        return;
    }
    const std::string options =
        "-c listen_addresses='' -c fsync=off -k " + dir_.string() + " -p " + std::to_string(port_);
    if (!run({std::string(kBin) + "pg_ctl", "-D", data, "-o", options, "-l",
              (dir_ / "log").string(), "-w", "-t", "60", "start"})) {
        error_ = "pg_ctl start failed: " + error_;
        return;
    }
    ok_ = true;
}

PgServer::~PgServer() {
    if (ok_)
        run({std::string(kBin) + "pg_ctl", "-D", (dir_ / "data").string(), "-m", "immediate", "-w",
             "stop"});
    std::filesystem::remove_all(dir_);
}

std::string PgServer::address() const {
    return "postgresql://zembra@/postgres?host=" + dir_.string() + "&port=" + std::to_string(port_);
}

bool PgServer::run(const std::vector<std::string>& command) {
    std::vector<std::string> args;
    std::string program = command.front();
    if (as_postgres_) {
        program = "/usr/sbin/runuser";
        args = {"-u", "postgres", "--"};
        args.insert(args.end(), command.begin(), command.end());
    } else {
        args.assign(command.begin() + 1, command.end());
    }
    const ChildResult r = run_child(program, args, {{"LC_ALL", "C"}}, dir_, 120000);
    if (r.exit_code == 0) return true;
    error_ = r.err + r.out;
    return false;
}
