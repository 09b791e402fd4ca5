#pragma once
// ScriptRegex: the script-style regular expression object of the item harvest. Global matching,
// case-insensitive unless asked, multi-line ^ and $, "." never matches a line feed, groups counted
// from 1. It matches on Unicode: the GBK pattern and subject become UTF-8, so "." takes one whole
// character and case folding never pairs unrelated GBK bytes; captured texts are cut from the
// original GBK bytes. Patterns run on RE2 (linear time, so a page with a changed layout cannot
// stall a worker), found first through PCRE2's JIT under a step limit; only what RE2 cannot express
// (look-ahead, back-references) runs on Boost.Regex.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/text.h"

struct ScriptRegexOptions {
    bool case_sensitive = false;
    bool multiline = true;
    bool global = true;
};

// Which engine runs a pattern. `automatic` takes RE2 whenever RE2 accepts the pattern.
enum class ScriptRegexEngine { automatic, linear, backtracking };

// One sub-match as a span of the GBK subject; `begin` is kNotMatched for a group that did not
// take part.
struct ScriptSpan {
    static constexpr std::uint32_t kNotMatched = 0xFFFFFFFFu;
    std::uint32_t begin = kNotMatched;
    std::uint32_t end = kNotMatched;
    bool matched() const { return begin != kNotMatched; }
};

// The matches of one run: `width` spans per match (the whole match, then every group).
struct ScriptMatchSet {
    std::shared_ptr<const Text> subject;
    std::size_t width = 1;
    std::vector<ScriptSpan> spans;
    bool fast = false;  // the fast path found every match, RE2 was not needed

    std::size_t count() const { return spans.size() / width; }
    const ScriptSpan* span(std::size_t match, std::size_t index) const;  // null when out of range
    Text text(const ScriptSpan& span) const;
};

class ScriptPattern;  // a compiled pattern, shareable between threads

// Compiles a GBK pattern; null when the chosen engine (both, for automatic) rejects it.
std::shared_ptr<const ScriptPattern> script_pattern_compile(
    std::string_view pattern, const ScriptRegexOptions& options,
    ScriptRegexEngine engine = ScriptRegexEngine::automatic);
// The engine a compiled pattern runs on (never automatic).
ScriptRegexEngine script_pattern_engine(const ScriptPattern& pattern);
int script_pattern_group_count(const ScriptPattern& pattern);
// How a linear pattern runs: PCRE2's JIT first under a step limit, RE2 from wherever that limit
// trips; or RE2 alone. Both give the same matches.
enum class ScriptMatchRoute { fast_first, linear_only };

// Every match over the subject (only the first when not global). An empty match moves the next
// search on by one character; an engine failure ends the run keeping the matches found before it.
ScriptMatchSet script_pattern_match(const ScriptPattern& pattern,
                                    std::shared_ptr<const Text> subject,
                                    ScriptMatchRoute route = ScriptMatchRoute::fast_first);

class ScriptRegex {
public:
    ScriptRegex() = default;
    ~ScriptRegex() = default;
    ScriptRegex(ScriptRegex&&) noexcept = default;
    ScriptRegex& operator=(ScriptRegex&&) noexcept = default;
    ScriptRegex(const ScriptRegex&) = delete;  // use copy(): it shares the expression and matches
    ScriptRegex& operator=(const ScriptRegex&) = delete;

    // True when the pattern is valid (even without a match). quote_placeholder turns every "#引号"
    // of the pattern into a double quote first.
    bool execute(std::string_view pattern, std::string_view subject, bool case_sensitive = false,
                 bool multiline = true, bool global = true, bool quote_placeholder = false);
    int match_count() const;
    Text match_text(int m) const;            // m from 1
    Text submatch_text(int m, int g) const;  // m and g from 1
    int submatch_count() const;              // groups of the first match; 0 without one
    Text pattern() const;                    // as last set, empty before the first execute
    // The last subject with the matches replaced: $1..$99, $&, $`, $', $$.
    Text replace(std::string_view replacement) const;
    ScriptRegex copy() const;
    void release();  // forgets expression, matches and subject

private:
    struct Expression {
        Text pattern;
        ScriptRegexOptions options;
        std::shared_ptr<const ScriptPattern> compiled;  // null for an invalid pattern
    };
    std::shared_ptr<const Expression> regexp_;
    std::shared_ptr<const ScriptMatchSet> matches_;
    std::shared_ptr<const Text> subject_;
};
