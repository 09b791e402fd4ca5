#include "runtime/regex.h"

#include <re2/re2.h>

#include <boost/regex.hpp>
#include <climits>
#include <optional>
#include <utility>

#include "runtime/regex_linear_form.h"
#include "runtime/stop.h"

struct regex::Compiled {
    boost::regex expression;
    // The same expression on the linear-time engine, when it means exactly the same there: a page
    // built to make backtracking explode then costs one pass, not minutes of a worker.
    std::unique_ptr<RE2> linear;
};

namespace {

std::unique_ptr<RE2> compile_linear(std::string_view pattern, const boost::regex& expression) {
    const std::optional<std::string> form = regex_linear_form(pattern);
    if (!form) return nullptr;
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);  // bytes, GBK ones included
    options.set_case_sensitive(true);
    options.set_posix_syntax(false);
    options.set_longest_match(false);
    options.set_log_errors(false);
    auto linear = std::make_unique<RE2>(*form, options);
    if (!linear->ok() ||
        static_cast<std::size_t>(linear->NumberOfCapturingGroups()) != expression.mark_count())
        return nullptr;
    return linear;
}

// One search over text on whichever engine holds the expression; spans counted from text's
// start. False for no match or an engine that gave up.
bool search_once(const regex::Compiled& compiled, std::string_view text, SearchResult& result) {
    result.spans.clear();
    if (compiled.linear) {
        const RE2& re = *compiled.linear;
        std::vector<re2::StringPiece> groups(
            static_cast<std::size_t>(re.NumberOfCapturingGroups()) + 1);
        if (!re.Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED,
                      groups.data(), static_cast<int>(groups.size())))
            return false;
        for (const re2::StringPiece& g : groups) {
            SubmatchSpan span;
            if (g.data() != nullptr) {
                span.offset = static_cast<std::int32_t>(g.data() - text.data());
                span.length = static_cast<std::int32_t>(g.size());
                span.matched = 1;
            }
            result.spans.push_back(span);
        }
        return true;
    }
    boost::match_results<const char*> m;
    try {
        if (!boost::regex_search(text.data(), text.data() + text.size(), m, compiled.expression,
                                 boost::format_all))
            return false;
    } catch (...) {
        return false;  // the engine gave up (complexity, stack)
    }
    result.spans.reserve(m.size());
    for (std::size_t i = 0; i < m.size(); ++i) {
        SubmatchSpan span;
        if (m[i].matched) {
            span.offset = static_cast<std::int32_t>(m[i].first - text.data());
            span.length = static_cast<std::int32_t>(m[i].second - m[i].first);
            span.matched = 1;
        }
        result.spans.push_back(span);
    }
    return true;
}

}  // namespace

regex::regex() = default;
regex::~regex() = default;
regex::regex(regex&&) noexcept = default;
regex& regex::operator=(regex&&) noexcept = default;

bool regex_create(regex& re, std::string_view pattern, bool case_sensitive) {
    const std::size_t nul = pattern.find('\0');
    if (nul != std::string_view::npos) pattern = pattern.substr(0, nul);
    try {
        auto compiled = std::make_unique<regex::Compiled>();
        const auto flags =
            case_sensitive ? boost::regex::perl : boost::regex::perl | boost::regex::icase;
        compiled->expression.assign(pattern.data(), pattern.data() + pattern.size(), flags);
        if (case_sensitive) compiled->linear = compile_linear(pattern, compiled->expression);
        re.compiled_ = std::move(compiled);  // only a good expression replaces the old one
        return true;
    } catch (...) {
        return false;
    }
}

std::vector<SearchResult> regex_search_all(const regex& re, std::string_view text) {
    std::vector<SearchResult> results;
    if (text.empty() || !re.compiled_ || text.size() > static_cast<std::size_t>(INT_MAX))
        return results;
    const boost::regex& expression = re.compiled_->expression;
    if (expression.empty() || (expression.flags() & boost::regex::failbit)) return results;

    std::size_t pos = 0;
    SearchResult result;
    while (pos <= text.size()) {
        // A stopped run wants no more matches, and a long page must not hold its worker.
        if (current_run_stopped()) break;
        // Each search sees the rest of the text as a text of its own: ^ and \b may match at pos.
        if (!search_once(*re.compiled_, text.substr(pos), result)) break;
        for (SubmatchSpan& span : result.spans)
            if (span.matched) span.offset += static_cast<std::int32_t>(pos);
        const SubmatchSpan whole = result.spans.front();
        results.push_back(result);

        const std::size_t match_end = static_cast<std::size_t>(whole.offset + whole.length);
        if (whole.length != 0) {
            pos = match_end;
            continue;
        }
        // An empty match: at the very start it ends the search; elsewhere step over one character
        // (a GBK pair when a lead byte stands there) so the search always moves on.
        if (match_end == 0 || match_end >= text.size()) break;
        const bool pair = is_lead_byte(static_cast<unsigned char>(text[match_end])) &&
                          match_end + 1 < text.size();
        pos = match_end + (pair ? 2 : 1);
    }
    return results;
}

Text search_result_text(const SearchResult& result, std::string_view text, int k, int* start) {
    if (k < 0 || static_cast<std::size_t>(k) >= result.spans.size()) return {};
    const SubmatchSpan& span = result.spans[static_cast<std::size_t>(k)];
    if (!span.matched) return {};
    if (start) *start = span.offset;
    // A span that does not fit the given text (another text than the searched one) is cut short.
    if (span.offset < 0 || span.length < 0 || static_cast<std::size_t>(span.offset) > text.size())
        return {};
    return Text(
        text.substr(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.length)));
}
