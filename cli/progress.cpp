#include "cli/progress.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr auto kTerminalInterval = std::chrono::milliseconds(100);

const char* state_name(RunState state) {
    switch (state) {
        case RunState::throttled:
            return "throttled";
        case RunState::blocked:
            return "blocked";
        default:
            return "running";
    }
}

double rate(const ProgressState& s) {
    return s.seconds > 0 ? static_cast<double>(s.pages) / s.seconds : 0;
}

double unit_rate(const ProgressState& s) {
    return s.seconds > 0 ? static_cast<double>(s.units) / s.seconds : 0;
}

// Counting units only: no page is counted, so the rate is of the units.
bool units_only(const ProgressState& s) {
    return s.total_units > 0 && s.pages == 0 && s.total_pages == 0;
}

long long left_at(long long total, long long done, double per_second) {
    if (total <= 0 || per_second <= 0) return -1;
    return std::llround(static_cast<double>(std::max(0LL, total - done)) / per_second);
}

// Seconds left, or -1 when not known.
long long eta(const ProgressState& s) {
    if (s.total_pages > 0) return left_at(s.total_pages, s.pages, rate(s));
    return left_at(s.total_units, s.units, unit_rate(s));
}

std::string fixed1(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

}  // namespace

std::string progress_line(const ProgressState& s) {
    std::string line;
    if (!units_only(s)) {
        line = "pages " + std::to_string(s.pages);
        if (s.total_pages > 0) line += "/" + std::to_string(s.total_pages);
        line += "  ";
    }
    if (s.total_units > 0)
        line += std::string(s.names.many) + " " + std::to_string(s.units) + "/" +
                std::to_string(s.total_units) + "  ";
    line += "rows " + std::to_string(s.rows) + "  ";
    line += units_only(s) ? fixed1(unit_rate(s)) + " " + s.names.many + "/s"
                          : fixed1(rate(s)) + " pages/s";
    const long long left = eta(s);
    if (left >= 0) line += "  ETA " + std::to_string(left) + "s";
    line += "  ";
    line += state_name(s.state);
    if (s.state == RunState::throttled)
        line += " (" + std::to_string(std::llround(s.pause_left)) + "s left)";
    return line;
}

std::string progress_json(const ProgressState& s, const char* event) {
    std::string json = "{\"event\":\"";
    json += event;
    json += "\"";
    if (!units_only(s)) json += ",\"pages\":" + std::to_string(s.pages);
    if (s.total_pages > 0) json += ",\"total_pages\":" + std::to_string(s.total_pages);
    if (s.total_units > 0)
        json += ",\"" + std::string(s.names.many) + "\":" + std::to_string(s.units) + ",\"total_" +
                s.names.many + "\":" + std::to_string(s.total_units);
    json += ",\"rows\":" + std::to_string(s.rows) +
            ",\"rate\":" + fixed1(units_only(s) ? unit_rate(s) : rate(s));
    const long long left = eta(s);
    if (left >= 0) json += ",\"eta_s\":" + std::to_string(left);
    json += ",\"state\":\"";
    json += state_name(s.state);
    json += "\"";
    if (s.state == RunState::throttled)
        json += ",\"pause_s\":" + std::to_string(std::llround(s.pause_left));
    return json + "}";
}

Progress::Progress(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {
    if (terminal_) ticker_ = std::thread([this] { tick(); });
}

Progress::~Progress() {
    finish();
}

ProgressState Progress::snapshot_locked() const {
    ProgressState s = state_;
    const auto now = Clock::now();
    s.seconds = std::chrono::duration<double>(now - start_).count();
    if (s.state == RunState::throttled)
        s.pause_left = std::max(0.0, std::chrono::duration<double>(pause_end_ - now).count());
    return s;
}

void Progress::set_total_pages(long long total) {
    std::lock_guard lock(mutex_);
    state_.total_pages = total;
    changed_ = true;
}

void Progress::page() {
    std::lock_guard lock(mutex_);
    ++state_.pages;
    changed_ = true;
    json_line_locked("page");
}

void Progress::json_line_locked(const char* event) {
    if (terminal_ || finished_) return;
    const std::string line = progress_json(snapshot_locked(), event) + "\n";
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
}

void Progress::set_units(ProgressUnits names, long long total, bool line_each) {
    std::lock_guard lock(mutex_);
    state_.names = names;
    state_.total_units = total;
    line_per_unit_ = line_each;
    changed_ = true;
}

void Progress::unit_done() {
    std::lock_guard lock(mutex_);
    ++state_.units;
    changed_ = true;
    if (line_per_unit_) json_line_locked(state_.names.one);
}

void Progress::set_rows(long long rows) {
    std::lock_guard lock(mutex_);
    state_.rows = rows;
    changed_ = true;
}

void Progress::set_state_locked(RunState state) {
    changed_ = true;
    if (state_.state == state) return;
    state_.state = state;
    json_line_locked("state");
}

void Progress::throttled(int pause_ms) {
    std::lock_guard lock(mutex_);
    pause_end_ = Clock::now() + std::chrono::milliseconds(pause_ms);
    set_state_locked(RunState::throttled);
}

void Progress::running() {
    std::lock_guard lock(mutex_);
    set_state_locked(RunState::running);
}

void Progress::blocked() {
    std::lock_guard lock(mutex_);
    set_state_locked(RunState::blocked);
}

void Progress::tick() {
    std::unique_lock lock(mutex_);
    while (!finished_) {
        wake_.wait_for(lock, kTerminalInterval);
        if (finished_) break;
        // A throttled run's countdown moves on without new pages.
        if (!changed_ && state_.state != RunState::throttled) continue;
        changed_ = false;
        const std::string line = "\r\033[K" + progress_line(snapshot_locked());
        std::fputs(line.c_str(), out_);
        std::fflush(out_);
    }
}

void Progress::finish() {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
        const ProgressState s = snapshot_locked();
        const std::string line =
            terminal_ ? "\r\033[K" + progress_line(s) + "\n" : progress_json(s, "end") + "\n";
        std::fputs(line.c_str(), out_);
        std::fflush(out_);
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}
