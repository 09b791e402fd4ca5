#include "tests/support/tls_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// Runs a command to its end with stdout/stderr discarded; true when it exited with 0.
bool run(const std::vector<std::string>& args, const std::string& dir) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TlsServer::TlsServer() {
    char pattern[] = "/tmp/zembra-tls-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    if (!run(
            {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2", "-subj",
             "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"},
            dir_))
        return;

    // Its output goes to a file: a pipe nobody reads any more would end it with SIGPIPE.
    const std::string log = dir_ + "/server.log";
    std::vector<std::string> args = {"openssl",  "s_server", "-accept", "127.0.0.1:0", "-cert",
                                     "cert.pem", "-key",     "key.pem", "-WWW"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return;
    child_ = pid;

    // The server announces "ACCEPT 127.0.0.1:PORT" once it listens.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(log);
        std::string seen((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t at = seen.find("ACCEPT 127.0.0.1:");
        if (at == std::string::npos) continue;
        size_t digits = at + 17, end = seen.find_first_not_of("0123456789", digits);
        if (end != std::string::npos && end > digits)
            port_ = std::atoi(seen.substr(digits, end - digits).c_str());
    }
}

TlsServer::~TlsServer() {
    if (child_ > 0) {
        kill(child_, SIGTERM);
        waitpid(child_, nullptr, 0);
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string TlsServer::base_url() const {
    return "https://127.0.0.1:" + std::to_string(port_);
}

bool TlsServer::put_page(const std::string& name, const std::string& body) const {
    if (dir_.empty()) return false;
    std::ofstream file(dir_ + "/" + name, std::ios::binary | std::ios::trunc);
    file << body;
    return static_cast<bool>(file);
}
