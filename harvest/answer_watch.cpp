#include "harvest/answer_watch.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/program_paths.h"
#include "runtime/services.h"
#include "runtime/stop.h"
#include "web/cookie_store.h"
#include "web/http_request_object.h"
#include "web/web_request.h"

namespace {

struct Messages {
    Text delaying = utf8_to_gbk("延时6分钟获取");
    Text running = utf8_to_gbk("正常运行...");
    Text verify = utf8_to_gbk("需要验证，请在淘宝登陆页完成验证");
};

const Messages& messages() {
    static const Messages m;
    return m;
}

std::string host_of(std::string_view url) {
    const size_t scheme = url.find("//");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 2);
    std::string host(rest.substr(0, rest.find_first_of("/?#")));
    host = host.substr(0, host.find(':'));
    for (char& c : host)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return host;
}

// A file name from the service and the time, unique within the process.
std::string report_name(const std::string& service) {
    static std::atomic<int> serial{0};
    std::string name;
    for (char c : service)
        name += (c == '/' || c == '\\' || c == ':' || c == '?' || c == '*') ? '_' : c;
    const auto now = std::chrono::system_clock::now();
    const auto day = std::chrono::floor<std::chrono::days>(now);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{std::chrono::floor<std::chrono::seconds>(now - day)};
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02u%02u-%02lld%02lld%02lld", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()),
                  static_cast<long long>(time.hours().count()),
                  static_cast<long long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()));
    return name + "-" + stamp + "-" + std::to_string(serial.fetch_add(1) + 1) + ".txt";
}

}  // namespace

std::string service_of(std::string_view url) {
    const size_t scheme = url.find("//");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 2);
    return std::string(rest.substr(0, rest.find_first_of("?#")));
}

bool AnswerWatch::over() const {
    return ended_.load() || current_run_stopped();
}

AnswerWatch::Counts AnswerWatch::note(const std::string& service, AnswerKind kind) {
    std::lock_guard lock(mutex_);
    Service& s = services_[service];
    if (kind == AnswerKind::Marked && s.paused) {
        s.paused = false;
        ++s.resumed;
    }
    if (kind == AnswerKind::Block)
        ++s.blocks;
    else
        s.blocks = 0;
    if (kind == AnswerKind::Unrecognised)
        ++s.unrecognised;
    else
        s.unrecognised = 0;
    return {s.blocks, s.unrecognised, s.resumed};
}

std::optional<Answer> AnswerWatch::ask(const AskRules& rules, const std::function<Answer()>& fetch,
                                       std::optional<Answer> first) {
    bool paused = false;
    for (int asks = 1;; ++asks) {
        if (over()) return std::nullopt;
        Answer answer = first ? std::move(*first) : fetch();
        first.reset();
        if (over()) return std::nullopt;
        const AnswerKind kind = classify_answer(answer, rules.marker);
        const Counts counts = note(rules.service, kind);
        if (kind == AnswerKind::Marked) {
            if (paused && rules.restore_title) ctx_.window.set_title(messages().running);
            return answer;
        }
        if (kind == AnswerKind::Unrecognised && counts.unrecognised >= kUnrecognisedBeforeReport) {
            report_format_change(rules.service, rules.marker, answer);
            return std::nullopt;
        }
        if (asks >= kMostAsksInARow) {
            ctx_.values.WatchEnding.store(kind);
            end_run(to_text(rules.service) + utf8_to_gbk("：同一地址已连续") +
                    to_text(kMostAsksInARow) + utf8_to_gbk("次没有得到正常回答（最后一次是") +
                    answer_kind_text(kind) + utf8_to_gbk("），采集已停止。地址：") +
                    to_text(answer.url));
            return std::nullopt;
        }
        if (kind == AnswerKind::Block && counts.blocks >= kBlocksBeforePause) {
            paused = true;
            wait_out_block(rules.service, answer, counts.resumed);
            continue;  // the probe
        }
        if (kind == AnswerKind::Throttle && rules.throttle_pause) {
            paused = true;
            ctx_.window.set_title(messages().delaying);
            ctx_.sleeper.wait(kThrottleWaitMs);
        }
        ctx_.sleeper.wait(kRetryWaitMs);
    }
}

void AnswerWatch::wait_out_block(const std::string& service, const Answer& answer,
                                 std::uint64_t resumed) {
    {
        std::lock_guard lock(mutex_);
        blocked_hosts_.insert(host_of(answer.url));
        services_[service].paused = true;
    }
    ctx_.window.set_title(messages().verify);
    std::string challenge = challenge_address(answer);
    ctx_.window.show_login_page(challenge.empty() ? ctx_.hosts.login_start_url : challenge);
    const std::uint64_t cookies = cookie_changes();
    for (int waited = 0; waited < kBlockProbeMs; waited += kRetryWaitMs) {
        if (over()) return;
        ctx_.sleeper.wait(kRetryWaitMs);
        if (cookie_changes() != cookies) return;
        std::lock_guard lock(mutex_);
        if (services_[service].resumed != resumed) return;
    }
}

std::string AnswerWatch::cookies_for(std::string_view url) const {
    {
        std::lock_guard lock(mutex_);
        if (!blocked_hosts_.count(host_of(url))) return {};
    }
    return cookie_header_for(url);
}

void AnswerWatch::report_format_change(const std::string& service, std::string_view marker,
                                       const Answer& answer) {
    std::filesystem::path folder = ctx_.values.ReportsFolder;
    if (folder.empty()) folder = data_directory() / "reports";
    const std::filesystem::path file = folder / report_name(service);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const bool saved = file_write_all(file, {Bytes(answer.body.begin(), answer.body.end())});
    if (ctx_.sink != nullptr) ctx_.sink->reported(service, answer.url, answer.body);
    const std::u8string path = file.u8string();
    const Text where = utf8_to_gbk(std::string(path.begin(), path.end()));
    ctx_.values.WatchEnding.store(AnswerKind::Unrecognised);
    end_run(to_text(service) + utf8_to_gbk("的回答格式已无法识别：连续") +
            to_text(kUnrecognisedBeforeReport) + utf8_to_gbk("次的回答里没有“") + to_text(marker) +
            utf8_to_gbk("”。") +
            (saved ? utf8_to_gbk("最后一次回答已保存到：") + where
                   : utf8_to_gbk("最后一次回答无法保存到：") + where) +
            utf8_to_gbk("。采集已停止。"));
}

void AnswerWatch::end_run(const Text& message) {
    if (ended_.exchange(true)) return;
    message_box(message);
}

Answer fetch_answer(HttpRequestObject& http, const AnswerWatch& watch, Text url,
                    bool auto_headers) {
    http.Open("GET", url);
    if (auto_headers) http.SetAutoHeaders();
    const std::string cookies = watch.cookies_for(url);
    if (!cookies.empty()) http.SetCookie(cookies);
    http.Send();
    Answer answer;
    answer.url = url;
    answer.body = http.ResponseBodyText();
    answer.status = http.Status();
    answer.reached_url = http.ReachedUrl();
    return answer;
}

Answer web_answer(std::string_view url) {
    WebAnswer fetched = WebRequestAnswer(url);
    Answer answer;
    answer.url = std::string(url);
    answer.body = to_text(fetched.body);
    answer.status = fetched.status;
    answer.reached_url = std::move(fetched.reached_url);
    return answer;
}
