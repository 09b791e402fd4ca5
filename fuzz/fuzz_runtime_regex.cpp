// The runtime expression over page bytes. The first byte picks the program's
// shop patterns or an expression taken from the input; wherever the linear-time
// engine runs an expression, its matches and groups must be those the
// backtracking engine alone finds.
#include <boost/regex.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "harvest/shop_harvest.h"
#include "runtime/regex.h"
#include "runtime/regex_linear_form.h"

namespace {

using Spans = std::vector<std::vector<std::pair<int, int>>>;  // per match: (offset,
                                                              // length) or -1

// Every match the backtracking engine finds, searched the way regex_search_all
// searches; false when it gives up on the text.
bool backtracking_spans(const std::string& pattern, std::string_view text, Spans& out) {
    try {
        const boost::regex re(pattern, boost::regex::perl);
        // An empty text or expression has no matches there, not one empty match.
        if (text.empty() || re.empty()) return true;
        std::size_t pos = 0;
        boost::match_results<const char*> m;
        while (pos <= text.size()) {
            if (!boost::regex_search(text.data() + pos, text.data() + text.size(), m, re)) break;
            std::vector<std::pair<int, int>> match;
            for (std::size_t i = 0; i < m.size(); ++i)
                match.emplace_back(m[i].matched ? static_cast<int>(m[i].first - text.data()) : -1,
                                   m[i].matched ? static_cast<int>(m[i].length()) : -1);
            out.push_back(match);
            const auto end = static_cast<std::size_t>(m[0].second - text.data());
            if (m[0].first != m[0].second) {
                pos = end;
                continue;
            }
            if (end == 0 || end >= text.size()) break;
            const bool pair =
                is_lead_byte(static_cast<unsigned char>(text[end])) && end + 1 < text.size();
            pos = end + (pair ? 2 : 1);
        }
        return true;
    } catch (...) {
        return false;
    }
}

Spans runtime_spans(const regex& re, std::string_view text) {
    Spans out;
    for (const SearchResult& r : regex_search_all(re, text)) {
        std::vector<std::pair<int, int>> match;
        for (const SubmatchSpan& s : r.spans)
            match.emplace_back(s.matched ? s.offset : -1, s.matched ? s.length : -1);
        out.push_back(match);
    }
    return out;
}

void compare(const std::string& pattern, std::string_view text) {
    regex re;
    if (!regex_create(re, pattern)) return;
    const Spans found = runtime_spans(re, text);
    if (!regex_linear_form(pattern)) return;  // the backtracking engine itself
    Spans expected;
    if (backtracking_spans(pattern, text, expected)) FUZZ_CHECK(found == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] < 0x80) {
        // A page against the shop patterns.
        for (ShopKind kind : {ShopKind::A, ShopKind::B}) {
            compare(shop_patterns(kind).page_count, rest);
            compare(shop_patterns(kind).items, rest);
        }
        return 0;
    }
    // An expression, a NUL, then a short text: the rewriting itself under test.
    const std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos || nul > 64) return 0;
    const std::string_view text = rest.substr(nul + 1);
    if (text.size() > 256) return 0;
    compare(std::string(rest.substr(0, nul)), text);
    return 0;
}
