#pragma once
// The progress of a command-line run on standard error. On a terminal one line, rewritten in place
// at most ten times a second; otherwise one JSON object per line for every page asked for and for
// every change of state (running, throttled, blocked), which a script can follow. Fed from the
// harvest threads through the window's observer.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

enum class RunState { running, throttled, blocked };

// What a run counts besides pages when it knows how many there are: the items of a review run,
// the shops of a shop run.
struct ProgressUnits {
    const char* one = "item";
    const char* many = "items";
};

struct ProgressState {
    long long pages = 0;
    long long total_pages = 0;  // 0 while unknown
    long long rows = 0;
    double seconds = 0;  // since the run began
    RunState state = RunState::running;
    double pause_left = 0;      // seconds, while throttled
    long long units = 0;        // done
    long long total_units = 0;  // 0: the run counts pages only
    ProgressUnits names;
};

// "pages 3/10  rows 120  2.5 pages/s  ETA 3s  running"; with units also "items 2/9" after the
// pages (and in place of pages and their rate when the run counts none). The ETA comes from the
// pages when their total is known, else from the units done so far.
std::string progress_line(const ProgressState& state);
// {"event":"page","pages":3,"total_pages":10,"rows":120,"rate":2.5,"eta_s":3,"state":"running"}
// with "pause_s" while throttled, total_pages/eta_s only when known and "items"/"total_items"
// (by the units' name) with units; no pages when the run counts only units. Events: "page", a
// unit's name, "state" (the state changed) and "end".
std::string progress_json(const ProgressState& state, const char* event);

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    Progress(std::FILE* out, bool terminal);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void set_total_pages(long long total);
    void page();
    // The run also counts units (items, shops) of a known number; one_line_each: a JSON line for
    // each unit done, for a run that counts no pages.
    void set_units(ProgressUnits names, long long total, bool line_each);
    void unit_done();
    void set_rows(long long rows);
    void throttled(int pause_ms);
    void running();
    void blocked();
    // The last line (the terminal's line ended, or an "end" JSON line); the ticker stops.
    void finish();

private:
    ProgressState snapshot_locked() const;
    void set_state_locked(RunState state);
    void json_line_locked(const char* event);  // not on a terminal
    void tick();

    std::FILE* out_;
    bool terminal_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point pause_end_{};
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    ProgressState state_;
    bool changed_ = false;
    bool line_per_unit_ = false;
    bool finished_ = false;
    std::thread ticker_;
};
