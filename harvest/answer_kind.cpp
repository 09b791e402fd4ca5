#include "harvest/answer_kind.h"

#include "harvest/text_extract.h"
#include "runtime/gbk.h"

namespace {

bool contains(std::string_view text, std::string_view sought) {
    return text.find(sought) != std::string_view::npos;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool blocked_status(int status) {
    return status == 403 || status == 429 || (status >= 500 && status <= 599);
}

// Pages and JSON that only the anti-robot system sends.
bool block_body(std::string_view body) {
    static const Text restricted = utf8_to_gbk("访问受限");
    return contains(body, "rgv587_flag") || contains(body, restricted) ||
           contains(body, "_____tmd_____/punish");
}

}  // namespace

bool is_challenge_address(std::string_view url) {
    const size_t scheme = url.find("//");
    if (scheme == std::string_view::npos) return false;
    std::string_view rest = url.substr(scheme + 2);
    const size_t path_start = rest.find_first_of("/?#");
    const std::string host = lower(rest.substr(0, path_start));
    const std::string_view path =
        path_start == std::string_view::npos ? std::string_view() : rest.substr(path_start);
    return host.starts_with("login.") || host.starts_with("sec.") || contains(path, "/punish");
}

AnswerKind classify_answer(const Answer& answer, std::string_view marker) {
    if (!marker.empty() && contains(answer.body, marker)) return AnswerKind::Marked;
    if (contains(answer.body, "wait\":5")) return AnswerKind::Throttle;
    // The redirect itself tells: following it to an https security page usually fails.
    if (is_challenge_address(answer.reached_url) || block_body(answer.body) ||
        blocked_status(answer.status))
        return AnswerKind::Block;
    if (answer.status == 0 || answer.body.empty()) return AnswerKind::NetworkFailure;
    return AnswerKind::Unrecognised;
}

namespace {

// Only a web page may be opened in the login browser: an answer naming "javascript://login.x/..."
// must not run script there.
bool web_address(std::string_view url) {
    const std::string start = lower(url.substr(0, 8));
    return start.starts_with("http://") || start.starts_with("https://");
}

}  // namespace

std::string challenge_address(const Answer& answer) {
    if (web_address(answer.reached_url) && is_challenge_address(answer.reached_url))
        return answer.reached_url;
    std::string named = extract_between(answer.body, "\"url\":\"", "\"");
    if (named.empty()) return {};
    if (named.starts_with("//")) named.insert(0, "https:");
    return web_address(named) && is_challenge_address(named) ? named : std::string();
}

Text answer_kind_text(AnswerKind kind) {
    switch (kind) {
        case AnswerKind::Marked:
            return utf8_to_gbk("正常回答");
        case AnswerKind::Throttle:
            return utf8_to_gbk("限流");
        case AnswerKind::Block:
            return utf8_to_gbk("验证拦截");
        case AnswerKind::NetworkFailure:
            return utf8_to_gbk("网络故障");
        case AnswerKind::Unrecognised:
            break;
    }
    return utf8_to_gbk("无法识别的回答");
}
