#include "cli/run_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stop_token>
#include <system_error>
#include <thread>

#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/proxy_check.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/list_file.h"
#include "runtime/services.h"
#include "runtime/stop.h"
#include "store/exporters.h"

namespace fs = std::filesystem;

MessageLog::MessageLog() {
    register_message_box([this](const Text& text, int, const Text&) {
        report(gbk_to_utf8(text));
        std::lock_guard lock(mutex_);
        texts_.push_back(text);
        return 0;
    });
}

MessageLog::~MessageLog() {
    register_message_box({});
}

bool MessageLog::empty() const {
    std::lock_guard lock(mutex_);
    return texts_.empty();
}

void report(const std::string& message) {
    const std::string line = "zembra-cli: " + message + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

bool run_on_threads(int n, const std::function<void(int index)>& body,
                    const std::function<bool()>& give_up) {
    std::stop_source stop;
    std::atomic<int> running{n};
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i, token = stop.get_token()] {
            set_current_stop_token(token);
            body(i);
            running.fetch_sub(1);
        });
    bool was_interrupted = false;
    while (running.load() > 0) {
        if (!was_interrupted && interrupted()) {
            was_interrupted = true;
            stop.request_stop();
        }
        if (give_up && give_up()) stop.request_stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread& t : threads)
        t.join();
    return was_interrupted || interrupted();
}

std::optional<std::string> read_list_input(const std::string& path, const char* what) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        report(std::string(what) + " " + path + " does not exist or is not a file");
        return std::nullopt;
    }
    FileRead read = file_read_regular(path, kMaxListFileBytes);
    if (read.status == FileReadStatus::too_large) {
        report(std::string(what) + " " + path + " is larger than 1 GiB");
        return std::nullopt;
    }
    if (read.status != FileReadStatus::ok) {
        report("cannot read " + std::string(what) + " " + path);
        return std::nullopt;
    }
    const ListFileText file{std::move(read.bytes)};
    std::string text(file.text());
    if (const auto line = first_invalid_gbk_line(text)) {
        report(std::string(what) + " " + path + ": line " + std::to_string(*line) +
               " is not GBK text");
        return std::nullopt;
    }
    return text;
}

bool output_place_ok(const std::string& out) {
    if (out == "-") return true;
    if (out.empty()) {
        report("no output file given (--out FILE, or - for standard output)");
        return false;
    }
    std::error_code error;
    const fs::path path(out);
    if (fs::is_directory(path, error)) {
        report("output " + out + " is a folder");
        return false;
    }
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (!fs::is_directory(parent, error)) {
        report("folder of output " + out + " does not exist");
        return false;
    }
    return true;
}

bool write_output(const std::string& out, const std::vector<Text>& lines) {
    if (out == "-") {
        const std::string bytes = text_export(lines);
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
                        std::fflush(stdout) == 0;
        if (!ok) report("cannot write to standard output");
        return ok;
    }
    std::string error;
    if (export_lines(out, lines, &error)) return true;
    report("cannot write " + out + (error.empty() ? "" : ": " + error));
    return false;
}

fs::path reports_folder(const std::string& out) {
    if (out == "-" || out.empty()) return {};
    std::error_code error;
    const fs::path path = fs::absolute(fs::path(out), error);
    return error ? fs::path("reports") : path.parent_path() / "reports";
}

namespace {

constexpr int kThrottlePauseMs = 360000;

struct TitleTexts {
    Text delaying = utf8_to_gbk("延时6分钟获取");
    Text running = utf8_to_gbk("正常运行...");
};

const TitleTexts& title_texts() {
    static const TitleTexts texts;
    return texts;
}

}  // namespace

bool ready_to_run(const RunPlace& place, bool writes_output) {
    if (writes_output && !output_place_ok(place.out)) return false;
    const std::string proxy = http_proxy_from_environment();
    if (!proxy.empty() && !proxy_reachable(proxy)) {
        report("cannot reach the proxy " + proxy);
        return false;
    }
    return true;
}

void follow_title(CliWindow::Observer& observer, Progress& progress) {
    observer.title = [&progress](const Text& title) {
        if (title == title_texts().delaying)
            progress.throttled(kThrottlePauseMs);
        else if (title == title_texts().running)
            progress.running();
    };
}

void MarketTrouble::follow_login_page(CliWindow::Observer& observer, Progress& progress) {
    observer.login_page = [this, &progress](const std::string& address) {
        if (blocked_.exchange(true)) return;
        progress.blocked();
        report("blocked: the marketplace asks for a check at " + address +
               "; pass it in a browser, save the browser's cookies and run again with "
               "--cookies FILE");
    };
}

void MarketTrouble::note(AnswerKind watch_ending) {
    if (watch_ending == AnswerKind::Marked) return;
    AnswerKind none = AnswerKind::Marked;
    ending_.compare_exchange_strong(none, watch_ending);
}

int MarketTrouble::exit_code() const {
    if (blocked_.load()) return kExitBlocked;
    switch (ending_.load()) {
        case AnswerKind::Marked:
            return kExitDone;
        case AnswerKind::NetworkFailure:
            return kExitBadInput;
        default:
            return kExitBlocked;
    }
}
