#pragma once
// A program run as a child process, its standard output and error captured in files, its
// environment the test's own plus the variables given (an empty value removes one).
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct ChildResult {
    int exit_code = -1;  // -1: killed by a signal or still running at the time limit
    int signal = 0;
    std::string out, err;
};

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::pair<std::string, std::string>>& env,
                 const std::filesystem::path& scratch);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void send(int signal_number);
    // Waits (bounded) until the child's standard error so far holds text; false at the time
    // limit or when the child ended without writing it.
    bool wait_for_error_text(const std::string& text, int timeout_ms = 60000);
    // Waits up to timeout_ms, then kills the child; the captured output either way.
    ChildResult wait(int timeout_ms = 120000);

private:
    pid_t pid_ = -1;
    std::filesystem::path out_, err_;
    bool reaped_ = false;
};

// Runs the program to its end.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::pair<std::string, std::string>>& env,
                      const std::filesystem::path& scratch, int timeout_ms = 120000);
