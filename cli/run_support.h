#pragma once
// What every subcommand needs around its harvest: the messages the harvests raise, threads that
// carry the run's stop token, input files read under the list-file rules and the output written
// whole or not at all.
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_window.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "harvest/answer_kind.h"
#include "runtime/text.h"

// Collects the harvests' message boxes and prints each to standard error, converted to UTF-8.
class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;
    bool empty() const;

private:
    mutable std::mutex mutex_;
    std::vector<Text> texts_;
};

// Prints "zembra-cli: " + message to standard error.
void report(const std::string& message);

// Runs body(i) for i in 0..n-1 on threads of their own, each with the run's stop token installed,
// and waits for them; an interrupt, or give_up() turning true, stops the run and they end at their
// next step. True when the run was interrupted.
bool run_on_threads(int n, const std::function<void(int index)>& body,
                    const std::function<bool()>& give_up = {});

// The text of a list file, or nullopt after telling why it cannot be used (missing, unreadable,
// not GBK).
std::optional<std::string> read_list_input(const std::string& path, const char* what);

// Whether the output can be written where asked; tells why not.
bool output_place_ok(const std::string& out);
// Writes the lines to out ("-": standard output) in the format its extension names, like the
// window's exports (.csv, .xlsx, else the text file); tells the user when that failed.
bool write_output(const std::string& out, const std::vector<Text>& lines);

// Where answers of a shape the program does not know are saved: "reports" beside the output file,
// as the window keeps them beside its own; empty (the data folder) for standard output.
std::filesystem::path reports_folder(const std::string& out);

// Checks every run shares before it starts: the output place (when the run writes a file) and a
// proxy that answers.
bool ready_to_run(const RunPlace& place, bool writes_output);

// The window's title tells a throttled run from a running one.
void follow_title(CliWindow::Observer& observer, Progress& progress);

// What the marketplace did to a run that only the user can see to; either stops the whole run.
// A lasting block: the answer watch wants the login page for its check, and a terminal has no
// browser to pass it in. Or the watch ended the run itself (ProgramValues::WatchEnding): a lasting
// unknown answer, or an address that never answered.
class MarketTrouble {
public:
    // On the watch's login page the progress shows "blocked", the user is told where the check
    // is, and the run is to stop.
    void follow_login_page(CliWindow::Observer& observer, Progress& progress);
    void note(AnswerKind watch_ending);
    bool happened() const { return blocked_.load() || ending_.load() != AnswerKind::Marked; }
    // kExitBlocked for a block, a changed page or a lasting throttle; kExitBadInput when the
    // marketplace never answered (as for a proxy that does not); kExitDone when nothing happened.
    int exit_code() const;

private:
    std::atomic<bool> blocked_{false};
    std::atomic<AnswerKind> ending_{AnswerKind::Marked};
};
