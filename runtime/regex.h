#pragma once
// The runtime regular expression: an 8-bit Perl-syntax expression over GBK bytes, searched for all
// of its matches at once. Spans are byte offsets into the searched text, which is not kept.
// A case-sensitive expression made only of constructs that mean the same on the linear-time engine
// runs there (see regex_linear_form), so a hostile page costs one pass; the others backtrack.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/text.h"

struct SubmatchSpan {
    std::int32_t offset = 0;  // from the start of the searched text, counted from 0
    std::int32_t length = 0;
    std::uint8_t matched = 0;  // 0 when the group did not take part
};

// One match: entry 0 is the whole match, entry k is group k, one entry for every group.
struct SearchResult {
    std::vector<SubmatchSpan> spans;
};

class regex;

// True when the pattern (up to its first NUL) compiled; on failure the old expression stays.
bool regex_create(regex& re, std::string_view pattern, bool case_sensitive = true);

// Every match in order; empty for an empty text, an expression that never compiled, or no match.
// The search ends early, keeping what it found, once the calling thread's run is stopped.
std::vector<SearchResult> regex_search_all(const regex& re, std::string_view text);

// Text of entry k (0 = whole match) cut from the searched text; empty when k is out of range or the
// entry did not take part. `start`, when given, receives the entry's offset counted from 0.
Text search_result_text(const SearchResult& result, std::string_view text, int k,
                        int* start = nullptr);

class regex {
public:
    regex();
    ~regex();
    regex(const regex&) = delete;
    regex& operator=(const regex&) = delete;
    regex(regex&&) noexcept;
    regex& operator=(regex&&) noexcept;

    struct Compiled;  // the engine's expression, kept out of this header

private:
    std::unique_ptr<Compiled> compiled_;  // empty until a pattern compiled

    friend bool regex_create(regex& re, std::string_view pattern, bool case_sensitive);
    friend std::vector<SearchResult> regex_search_all(const regex& re, std::string_view text);
};
