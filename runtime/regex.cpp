#include "runtime/regex.h"

#include <boost/regex.hpp>

#include <climits>
#include <utility>

struct regex::Compiled {
    boost::regex expression;
};

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

    const char* const begin = text.data();
    const char* const end = begin + text.size();
    std::size_t pos = 0;
    boost::match_results<const char*> m;
    while (pos <= text.size()) {
        // Each search sees the rest of the text as a text of its own: ^ and \b may match at pos.
        bool found = false;
        try {
            found = boost::regex_search(begin + pos, end, m, expression, boost::format_all);
        } catch (...) {
            break;  // the engine gave up (complexity, stack); keep what was found
        }
        if (!found) break;
        SearchResult result;
        result.spans.reserve(m.size());
        for (std::size_t i = 0; i < m.size(); ++i) {
            SubmatchSpan span;
            if (m[i].matched) {
                span.offset = static_cast<std::int32_t>(m[i].first - begin);
                span.length = static_cast<std::int32_t>(m[i].second - m[i].first);
                span.matched = 1;
            }
            result.spans.push_back(span);
        }
        results.push_back(std::move(result));

        const std::size_t match_end = static_cast<std::size_t>(m[0].second - begin);
        if (m[0].first != m[0].second) {
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
