#include "runtime/script_regex.h"

#include <re2/re2.h>

#include <boost/regex.hpp>

#include <cctype>
#include <cstdio>
#include <locale>
#include <string>
#include <utility>

#include "runtime/gbk.h"

// Patterns are written in the script dialect (JScript-style escapes, \s without Unicode spaces,
// "." short of a line feed only). Each pattern is rewritten for the engine that runs it so that
// both engines read it the same way; only \n counts as a line break for ".", ^ and $.

namespace {

// RE2 keeps its automata within this budget; the item pattern over a 2 MB page needs far less, but
// a budget too small makes RE2 drop to its slow NFA.
constexpr std::int64_t kRe2MemoryBudget = 64 << 20;

constexpr const char* kSpaceSet = "\\t\\n\\x{B}\\f\\r ";
// Word boundaries over ASCII word characters only; Boost's own would count Chinese as word
// characters.
constexpr const char* kBoostWordBoundary =
    "(?:(?<![A-Za-z0-9_])(?=[A-Za-z0-9_])|(?<=[A-Za-z0-9_])(?![A-Za-z0-9_]))";
constexpr const char* kBoostNotWordBoundary =
    "(?:(?<![A-Za-z0-9_])(?![A-Za-z0-9_])|(?<=[A-Za-z0-9_])(?=[A-Za-z0-9_]))";

enum class Target { re2, boost };

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::size_t utf8_length(unsigned char lead) {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

void append_code(std::string& out, unsigned long cp) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\x{%lX}", cp);
    out += buffer;
}

struct Translation {
    std::string pattern;
    bool ok = true;
};

// Rewrites one escape starting at p[i] == '\\'; returns the index after it.
std::size_t translate_escape(std::string_view p, std::size_t i, bool in_class, Target target,
                             std::string& out) {
    if (i + 1 >= p.size()) {
        out += '\\';  // a trailing backslash: both engines reject it, as the dialect does
        return i + 1;
    }
    const char e = p[i + 1];
    const bool boost = target == Target::boost;
    switch (e) {
        case 'd':
            out += !boost ? "\\d" : in_class ? "0-9" : "[0-9]";
            return i + 2;
        case 'D':
            out += !boost || in_class ? "\\D" : "[^0-9]";
            return i + 2;
        case 'w':
            out += !boost ? "\\w" : in_class ? "A-Za-z0-9_" : "[A-Za-z0-9_]";
            return i + 2;
        case 'W':
            out += !boost || in_class ? "\\W" : "[^A-Za-z0-9_]";
            return i + 2;
        case 's':
            out += in_class ? std::string(kSpaceSet) : "[" + std::string(kSpaceSet) + "]";
            return i + 2;
        case 'S':
            out += in_class ? std::string("\\S") : "[^" + std::string(kSpaceSet) + "]";
            return i + 2;
        case 'b':
            out += in_class ? "\\x{8}" : boost ? kBoostWordBoundary : "\\b";
            return i + 2;
        case 'B':
            out += in_class ? "B" : boost ? kBoostNotWordBoundary : "\\B";
            return i + 2;
        case 'f':
        case 'n':
        case 'r':
        case 't':
            out += '\\';
            out += e;
            return i + 2;
        case 'v':
            append_code(out, 0x0B);
            return i + 2;
        case 'x':
            if (i + 3 < p.size() && is_hex(p[i + 2]) && is_hex(p[i + 3])) {
                append_code(out, std::stoul(std::string(p.substr(i + 2, 2)), nullptr, 16));
                return i + 4;
            }
            out += 'x';
            return i + 2;
        case 'u':
            if (i + 5 < p.size() && is_hex(p[i + 2]) && is_hex(p[i + 3]) && is_hex(p[i + 4]) &&
                is_hex(p[i + 5])) {
                append_code(out, std::stoul(std::string(p.substr(i + 2, 4)), nullptr, 16));
                return i + 6;
            }
            out += 'u';
            return i + 2;
        case 'c':
            if (i + 2 < p.size() && std::isalpha(static_cast<unsigned char>(p[i + 2]))) {
                append_code(out, static_cast<unsigned char>(p[i + 2]) % 32);
                return i + 3;
            }
            append_code(out, '\\');  // "\c" without a letter stands for itself
            return i + 1;
        default:
            break;
    }
    if (e >= '0' && e <= '9' && (e == '0' || in_class)) {
        // Octal: \0 and, inside a class, \1..\7 (a class cannot hold a back-reference).
        unsigned long value = 0;
        std::size_t j = i + 1;
        while (j < p.size() && j < i + 4 && p[j] >= '0' && p[j] <= '7' &&
               value * 8 + (p[j] - '0') <= 255) {
            value = value * 8 + static_cast<unsigned long>(p[j] - '0');
            ++j;
        }
        if (j == i + 1) {  // \8 or \9 in a class: the digit itself
            out += e;
            return i + 2;
        }
        append_code(out, value);
        return j;
    }
    if (e >= '1' && e <= '9') {
        out += '\\';  // a back-reference: RE2 refuses it, Boost takes it
        out += e;
        return i + 2;
    }
    const auto u = static_cast<unsigned char>(e);
    if (u >= 0x80) {  // an escaped non-ASCII character is that character
        const std::size_t len = utf8_length(u);
        out.append(p.substr(i + 1, len));
        return i + 1 + len;
    }
    if (is_ascii_alnum(u) || u == '_') {
        out += e;  // an unknown letter escape is the letter itself
        return i + 2;
    }
    append_code(out, u);  // escaped punctuation is literal in both engines this way
    return i + 2;
}

std::string translate(std::string_view p, Target target, bool multiline) {
    const bool boost = target == Target::boost;
    std::string out;
    out.reserve(p.size() + 16);
    bool in_class = false;
    for (std::size_t i = 0; i < p.size();) {
        const char c = p[i];
        if (c == '\\') {
            i = translate_escape(p, i, in_class, target, out);
            continue;
        }
        if (in_class) {
            if (c == ']') {
                in_class = false;
                out += ']';
            } else if (c == '[') {
                append_code(out, '[');  // literal here; never the start of a POSIX class
            } else {
                out += c;
            }
            ++i;
            continue;
        }
        switch (c) {
            case '[':
                if (p.substr(i, 2) == "[]") {
                    out += "[^\\x{0}-\\x{10FFFF}]";  // the empty class matches nothing
                    i += 2;
                } else if (p.substr(i, 3) == "[^]") {
                    out += "[\\x{0}-\\x{10FFFF}]";  // and its negation any character
                    i += 3;
                } else {
                    in_class = true;
                    out += '[';
                    ++i;
                    if (i < p.size() && p[i] == '^') {
                        out += '^';
                        ++i;
                    }
                }
                continue;
            case '.':
                out += boost ? "[^\\n]" : ".";
                break;
            case '^':
                out += !boost ? "^" : multiline ? "(?<![^\\n])" : "\\A";
                break;
            case '$':
                out += !boost ? "$" : multiline ? "(?![^\\n])" : "\\z";
                break;
            default:
                out += c;
        }
        ++i;
    }
    return out;
}

const std::locale& unicode_locale() {
    static const std::locale locale = [] {
        try {
            return std::locale("C.UTF-8");
        } catch (...) {
            return std::locale::classic();
        }
    }();
    return locale;
}

std::u32string utf8_to_utf32(std::string_view s, std::vector<std::uint32_t>* offsets) {
    std::u32string out;
    out.reserve(s.size());
    if (offsets) {
        offsets->clear();
        offsets->reserve(s.size() + 1);
    }
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        std::size_t len = utf8_length(lead);
        if (i + len > s.size()) len = s.size() - i;
        char32_t cp = len == 1 ? lead : lead & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (offsets) offsets->push_back(static_cast<std::uint32_t>(i));
        out += cp;
        i += len;
    }
    if (offsets) offsets->push_back(static_cast<std::uint32_t>(s.size()));
    return out;
}

std::wstring to_wide(std::string_view utf8) {
    const std::u32string wide = utf8_to_utf32(utf8, nullptr);
    return std::wstring(wide.begin(), wide.end());
}

}  // namespace

class ScriptPattern {
public:
    ScriptRegexOptions options;
    ScriptRegexEngine engine = ScriptRegexEngine::linear;
    std::unique_ptr<RE2> linear;
    std::unique_ptr<boost::wregex> backtracking;
    int groups = 0;
};

std::shared_ptr<const ScriptPattern> script_pattern_compile(std::string_view pattern,
                                                            const ScriptRegexOptions& options,
                                                            ScriptRegexEngine engine) {
    const std::string utf8 = gbk_to_utf8(pattern);
    auto compiled = std::make_shared<ScriptPattern>();
    compiled->options = options;
    if (engine != ScriptRegexEngine::backtracking) {
        RE2::Options re2_options;
        re2_options.set_encoding(RE2::Options::EncodingUTF8);
        re2_options.set_case_sensitive(options.case_sensitive);
        re2_options.set_never_nl(false);
        re2_options.set_dot_nl(false);
        re2_options.set_posix_syntax(false);
        re2_options.set_longest_match(false);
        re2_options.set_log_errors(false);
        re2_options.set_max_mem(kRe2MemoryBudget);
        std::string text = translate(utf8, Target::re2, options.multiline);
        if (options.multiline) text = "(?m)" + text;
        auto re = std::make_unique<RE2>(text, re2_options);
        if (re->ok()) {
            compiled->engine = ScriptRegexEngine::linear;
            compiled->groups = re->NumberOfCapturingGroups();
            compiled->linear = std::move(re);
            return compiled;
        }
        if (engine == ScriptRegexEngine::linear) return nullptr;
    }
    try {
        auto re = std::make_unique<boost::wregex>();
        re->imbue(unicode_locale());
        const boost::regex::flag_type flags = options.case_sensitive
                                                  ? boost::regex::ECMAScript
                                                  : boost::regex::ECMAScript | boost::regex::icase;
        re->assign(to_wide(translate(utf8, Target::boost, options.multiline)), flags);
        compiled->engine = ScriptRegexEngine::backtracking;
        compiled->groups = static_cast<int>(re->mark_count());
        compiled->backtracking = std::move(re);
        return compiled;
    } catch (...) {
        return nullptr;
    }
}

ScriptRegexEngine script_pattern_engine(const ScriptPattern& pattern) {
    return pattern.engine;
}
int script_pattern_group_count(const ScriptPattern& pattern) {
    return pattern.groups;
}

namespace {

// Collects spans given as UTF-8 offsets and stores them as offsets into the GBK subject.
class SpanSink {
public:
    SpanSink(ScriptMatchSet& set, const std::vector<GbkUtf8Anchor>& anchors)
        : set_(set), anchors_(anchors) {}
    void add(bool matched, std::size_t begin, std::size_t end) {
        ScriptSpan span;
        if (matched) {
            span.begin = static_cast<std::uint32_t>(to_gbk(begin));
            span.end = static_cast<std::uint32_t>(to_gbk(end));
        }
        set_.spans.push_back(span);
    }

private:
    std::size_t to_gbk(std::size_t utf8) const {
        return anchors_.empty() ? utf8 : gbk_offset_for_utf8(anchors_, utf8);
    }
    ScriptMatchSet& set_;
    const std::vector<GbkUtf8Anchor>& anchors_;
};

// Where the search goes on after a match: at its end, or one character further for an empty one.
// Returns false when the text is used up.
bool next_start(std::size_t begin, std::size_t end, std::size_t size, std::size_t step,
                std::size_t& pos) {
    if (end > begin) {
        pos = end;
        return true;
    }
    if (end >= size) return false;
    pos = end + step;
    return true;
}

void match_linear(const ScriptPattern& pattern, std::string_view text, SpanSink& sink) {
    const RE2& re = *pattern.linear;
    std::vector<re2::StringPiece> groups(static_cast<std::size_t>(pattern.groups) + 1);
    const re2::StringPiece whole(text.data(), text.size());
    std::size_t pos = 0;
    while (pos <= text.size()) {
        if (!re.Match(whole, pos, text.size(), RE2::UNANCHORED, groups.data(),
                      static_cast<int>(groups.size())))
            break;
        for (const re2::StringPiece& g : groups) {
            const bool matched = g.data() != nullptr;
            const std::size_t b = matched ? static_cast<std::size_t>(g.data() - text.data()) : 0;
            sink.add(matched, b, b + g.size());
        }
        const std::size_t b = static_cast<std::size_t>(groups[0].data() - text.data());
        const std::size_t e = b + groups[0].size();
        if (!pattern.options.global) break;
        const std::size_t step =
            e < text.size() ? utf8_length(static_cast<unsigned char>(text[e])) : 1;
        if (!next_start(b, e, text.size(), step, pos)) break;
    }
}

void match_backtracking(const ScriptPattern& pattern, std::string_view text, SpanSink& sink) {
    std::vector<std::uint32_t> offsets;  // UTF-8 offset of every character, and of the end
    const std::u32string wide32 = utf8_to_utf32(text, &offsets);
    const std::wstring wide(wide32.begin(), wide32.end());
    const wchar_t* const begin = wide.data();
    const wchar_t* const end = begin + wide.size();
    boost::match_results<const wchar_t*> m;
    std::size_t pos = 0;
    while (pos <= wide.size()) {
        bool found = false;
        try {
            const auto flags = pos > 0 ? boost::match_prev_avail : boost::match_default;
            found = boost::regex_search(begin + pos, end, m, *pattern.backtracking, flags, begin);
        } catch (...) {
            break;  // the engine gave up (complexity, stack): keep what was found
        }
        if (!found) break;
        for (std::size_t i = 0; i < m.size(); ++i) {
            const bool matched = m[i].matched;
            sink.add(matched, matched ? offsets[m[i].first - begin] : 0,
                     matched ? offsets[m[i].second - begin] : 0);
        }
        if (!pattern.options.global) break;
        if (!next_start(m[0].first - begin, m[0].second - begin, wide.size(), 1, pos)) break;
    }
}

}  // namespace

ScriptMatchSet script_pattern_match(const ScriptPattern& pattern,
                                    std::shared_ptr<const Text> subject) {
    ScriptMatchSet set;
    set.width = static_cast<std::size_t>(pattern.groups) + 1;
    set.subject = subject ? std::move(subject) : std::make_shared<const Text>();
    if (set.subject->size() >= ScriptSpan::kNotMatched) return set;
    std::vector<GbkUtf8Anchor> anchors;
    const std::string utf8 = gbk_to_utf8(*set.subject, &anchors);
    SpanSink sink(set, anchors);
    if (pattern.linear)
        match_linear(pattern, utf8, sink);
    else if (pattern.backtracking)
        match_backtracking(pattern, utf8, sink);
    return set;
}

const ScriptSpan* ScriptMatchSet::span(std::size_t match, std::size_t index) const {
    if (index >= width || match >= count()) return nullptr;
    return &spans[match * width + index];
}

Text ScriptMatchSet::text(const ScriptSpan& span) const {
    if (!span.matched() || !subject || span.end < span.begin || span.end > subject->size())
        return {};
    return subject->substr(span.begin, span.end - span.begin);
}

bool ScriptRegex::execute(std::string_view pattern, std::string_view subject, bool case_sensitive,
                          bool multiline, bool global, bool quote_placeholder) {
    // "#引号" in GBK
    static const Text kPlaceholder = "#\xD2\xFD\xBA\xC5";
    const ScriptRegexOptions options{case_sensitive, multiline, global};
    auto expression = std::make_shared<Expression>();
    expression->options = options;
    expression->pattern =
        quote_placeholder ? text_replace(pattern, kPlaceholder, "\"", 1, -1, true) : Text(pattern);
    // The same pattern again (a harvest runs one pattern over every page) reuses the compiled one.
    if (regexp_ && regexp_->compiled && regexp_->pattern == expression->pattern &&
        regexp_->options.case_sensitive == case_sensitive &&
        regexp_->options.multiline == multiline && regexp_->options.global == global)
        expression->compiled = regexp_->compiled;
    else
        expression->compiled = script_pattern_compile(expression->pattern, options);
    regexp_ = std::move(expression);
    matches_.reset();
    subject_ = std::make_shared<const Text>(subject);
    if (!regexp_->compiled) return false;
    matches_ =
        std::make_shared<const ScriptMatchSet>(script_pattern_match(*regexp_->compiled, subject_));
    return true;
}

int ScriptRegex::match_count() const {
    return matches_ ? static_cast<int>(matches_->count()) : 0;
}

Text ScriptRegex::match_text(int m) const {
    if (!matches_ || m < 1) return {};
    const ScriptSpan* span = matches_->span(static_cast<std::size_t>(m - 1), 0);
    return span ? matches_->text(*span) : Text();
}

Text ScriptRegex::submatch_text(int m, int g) const {
    if (!matches_ || m < 1 || g < 1) return {};
    const ScriptSpan* span =
        matches_->span(static_cast<std::size_t>(m - 1), static_cast<std::size_t>(g));
    return span ? matches_->text(*span) : Text();
}

int ScriptRegex::submatch_count() const {
    return matches_ && matches_->count() > 0 ? static_cast<int>(matches_->width - 1) : 0;
}

Text ScriptRegex::pattern() const {
    return regexp_ ? regexp_->pattern : Text();
}

Text ScriptRegex::replace(std::string_view replacement) const {
    if (!matches_ || !matches_->subject) return {};
    const Text& subject = *matches_->subject;
    const std::size_t groups = matches_->width - 1;
    Text out;
    out.reserve(subject.size());
    std::size_t copied = 0;
    for (std::size_t m = 0; m < matches_->count(); ++m) {
        const ScriptSpan& whole = *matches_->span(m, 0);
        out.append(subject, copied, whole.begin - copied);
        for (std::size_t i = 0; i < replacement.size(); ++i) {
            const char c = replacement[i];
            const char next = i + 1 < replacement.size() ? replacement[i + 1] : '\0';
            if (c != '$' || next == '\0') {
                out += c;
                continue;
            }
            if (next == '$') {
                out += '$';
            } else if (next == '&') {
                out += matches_->text(whole);
            } else if (next == '`') {
                out.append(subject, 0, whole.begin);
            } else if (next == '\'') {
                out.append(subject, whole.end);
            } else if (next >= '0' && next <= '9') {
                // Two digits when they name a group, else one; a number naming no group is literal.
                std::size_t n = static_cast<std::size_t>(next - '0');
                std::size_t used = 1;
                const char third = i + 2 < replacement.size() ? replacement[i + 2] : '\0';
                if (third >= '0' && third <= '9' && n * 10 + (third - '0') >= 1 &&
                    n * 10 + (third - '0') <= groups) {
                    n = n * 10 + static_cast<std::size_t>(third - '0');
                    used = 2;
                }
                if (n < 1 || n > groups) {
                    out += c;
                    continue;
                }
                out += matches_->text(*matches_->span(m, n));
                i += used;
                continue;
            } else {
                out += c;
                continue;
            }
            ++i;
        }
        copied = whole.end;
    }
    out.append(subject, copied);
    return out;
}

ScriptRegex ScriptRegex::copy() const {
    ScriptRegex twin;
    twin.regexp_ = regexp_;
    twin.matches_ = matches_;
    twin.subject_ = subject_;  // immutable, so sharing it is as good as a copy
    return twin;
}

void ScriptRegex::release() {
    regexp_.reset();
    matches_.reset();
    subject_.reset();
}
