#include "runtime/script_regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <re2/filtered_re2.h>
#include <re2/re2.h>

#include <boost/regex.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale>
#include <optional>
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

// Steps one search of the fast path may take before RE2 takes over. A normal page's item needs a
// few thousand; a page where the pattern cannot complete needs millions.
constexpr std::uint32_t kFastStepLimit = 100000;
// Conversion buffers up to this size stay with their thread between runs.
constexpr std::size_t kKeptBuffer = 4 << 20;
// Shorter literals say too little about a page to be worth a search.
constexpr int kAtomMinLength = 3;
constexpr PCRE2_SIZE kUnset = std::numeric_limits<PCRE2_SIZE>::max();

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

namespace {

struct FastCodeFree {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
using FastCode = std::unique_ptr<pcre2_code, FastCodeFree>;

// A caseless pattern rewritten to run case-sensitively over a text whose ASCII letters were
// lowered: PCRE2's JIT searches several times faster without its caseless mode. ASCII letters
// outside classes become lower case; classes and non-ASCII characters stay caseless inside
// "(?i:...)" (a caseless class over lowered letters is the class closed under case, as it should
// be). Empty when the pattern sets flags of its own, which could turn caseless matching off.
std::optional<std::string> lowered_form(std::string_view p) {
    std::string out;
    out.reserve(p.size() + 16);
    for (std::size_t i = 0; i < p.size();) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c == '\\') {
            const std::size_t end =
                i + 2 < p.size() && p[i + 1] == 'x' && p[i + 2] == '{' ? p.find('}', i) : i + 1;
            if (end == std::string_view::npos || end >= p.size()) return std::nullopt;
            out += "(?i:";
            out.append(p.substr(i, end + 1 - i));
            out += ')';
            i = end + 1;
        } else if (c == '[') {
            std::size_t end = i + 1;
            if (end < p.size() && p[end] == '^') ++end;
            while (end < p.size() && p[end] != ']')
                end += p[end] == '\\' ? 2 : 1;
            if (end >= p.size()) return std::nullopt;
            out += "(?i:";
            out.append(p.substr(i, end + 1 - i));
            out += ')';
            i = end + 1;
        } else if (c == '(' && i + 1 < p.size() && p[i + 1] == '?') {
            if (p.substr(i, 3) == "(?:") {
                out += "(?:";
                i += 3;
                continue;
            }
            const std::size_t name = p.substr(i, 4) == "(?P<" ? i + 4 : i + 3;
            if (p.substr(i, 3) != "(?<" && name != i + 4) return std::nullopt;
            const std::size_t close = p.find('>', name);
            if (close == std::string_view::npos) return std::nullopt;
            out.append(p.substr(i, close + 1 - i));  // a group's name keeps its case
            i = close + 1;
        } else if (c >= 0x80) {
            const std::size_t len = std::min(utf8_length(c), p.size() - i);
            out += "(?i:";
            out.append(p.substr(i, len));
            out += ')';
            i += len;
        } else {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
            ++i;
        }
    }
    return out;
}

// The fast path for a pattern RE2 took: the same rewritten pattern on PCRE2's JIT, which finds the
// common page's matches several times faster. Null when PCRE2 reads the pattern differently
// (another group count) or cannot compile it; RE2 then runs alone.
FastCode compile_fast(const std::string& translated, const ScriptRegexOptions& options, int groups,
                      bool lowered) {
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    if (!context) return nullptr;
    pcre2_set_newline(context, PCRE2_NEWLINE_LF);
    std::uint32_t flags = PCRE2_UTF | PCRE2_NEVER_BACKSLASH_C | PCRE2_NEVER_UCP;
    if (!options.case_sensitive && !lowered) flags |= PCRE2_CASELESS;
    // Multi-line "^" also after a line feed that ends the text, as RE2 has it.
    flags |= options.multiline ? PCRE2_MULTILINE | PCRE2_ALT_CIRCUMFLEX : PCRE2_DOLLAR_ENDONLY;
    int error = 0;
    PCRE2_SIZE error_at = 0;
    FastCode code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                flags, &error, &error_at, context));
    pcre2_compile_context_free(context);
    if (!code) return nullptr;
    std::uint32_t count = 0;
    if (pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &count) != 0 ||
        count != static_cast<std::uint32_t>(groups))
        return nullptr;
    if (pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE) != 0) return nullptr;
    return code;
}

// A literal every match must hold, lower-cased, and the byte of it the search looks for first.
struct Atom {
    std::string text;
    std::size_t key = 0;
};

// Literals every match must hold, found by RE2's prefilter: a page that lacks one cannot match, and
// a byte search over it is far quicker than any automaton (the page whose layout changed).
struct Prefilter {
    std::unique_ptr<re2::FilteredRE2> filter;
    std::vector<Atom> atoms;  // empty text for an atom searched no further (taken as present)
};

// How rare a byte is in a page, higher is rarer: the search keys on the rarest byte of an atom.
int rarity(unsigned char c) {
    static constexpr std::string_view kCommon =
        " \"':,./=<>-\n\t0123456789etaoinshrdlcumwfgypbvkjxqz";
    const std::size_t at = kCommon.find(static_cast<char>(c));
    return at == std::string_view::npos ? 100 : static_cast<int>(at);
}

std::unique_ptr<Prefilter> compile_prefilter(const std::string& re2_pattern,
                                             const RE2::Options& options) {
    auto prefilter = std::make_unique<Prefilter>();
    prefilter->filter = std::make_unique<re2::FilteredRE2>(kAtomMinLength);
    int id = 0;
    if (prefilter->filter->Add(re2_pattern, options, &id) != RE2::NoError) return nullptr;
    std::vector<std::string> atoms;
    prefilter->filter->Compile(&atoms);
    if (atoms.empty()) return nullptr;  // nothing every match must hold
    for (const std::string& text : atoms) {
        // The atoms come lower-cased; ASCII ones are searched ignoring ASCII case (a superset of
        // what the pattern can match), the others count as present.
        Atom atom;
        bool ascii = true;
        for (const char c : text)
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) {
            atom.text = text;
            for (std::size_t i = 1; i < text.size(); ++i)
                if (rarity(static_cast<unsigned char>(text[i])) >
                    rarity(static_cast<unsigned char>(text[atom.key])))
                    atom.key = i;
        }
        prefilter->atoms.push_back(std::move(atom));
    }
    return prefilter;
}

}  // namespace

class ScriptPattern {
public:
    ScriptRegexOptions options;
    ScriptRegexEngine engine = ScriptRegexEngine::linear;
    std::unique_ptr<RE2> linear;
    FastCode fast;                         // optional, beside `linear`
    bool lowered = false;                  // `fast` runs over the text with lowered ASCII letters
    std::unique_ptr<Prefilter> prefilter;  // optional, beside `fast`
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
        const std::string text = translate(utf8, Target::re2, options.multiline);
        auto re = std::make_unique<RE2>(options.multiline ? "(?m)" + text : text, re2_options);
        if (re->ok()) {
            compiled->engine = ScriptRegexEngine::linear;
            compiled->groups = re->NumberOfCapturingGroups();
            compiled->linear = std::move(re);
            if (!options.case_sensitive) {
                if (const auto lowered = lowered_form(text)) {
                    compiled->fast = compile_fast(*lowered, options, compiled->groups, true);
                    compiled->lowered = compiled->fast != nullptr;
                }
            }
            if (!compiled->fast)
                compiled->fast = compile_fast(text, options, compiled->groups, false);
            if (compiled->fast)
                compiled->prefilter = compile_prefilter(compiled->linear->pattern(), re2_options);
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

unsigned char ascii_lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Whether the text holds the lower-case ASCII atom in any ASCII case: memchr over both cases of
// its key byte, then a comparison around each hit.
bool holds(std::string_view text, const Atom& atom) {
    const std::size_t size = atom.text.size();
    if (text.size() < size) return false;
    const auto key = static_cast<unsigned char>(atom.text[atom.key]);
    const unsigned char upper =
        key >= 'a' && key <= 'z' ? static_cast<unsigned char>(key - ('a' - 'A')) : key;
    // The key can sit at [key, text.size() - size + key] only.
    const char* const first = text.data() + atom.key;
    const char* const last = text.data() + (text.size() - size) + atom.key + 1;
    const char* next_lower = first;
    const char* next_upper = upper == key ? last : first;
    const char* hit_lower = nullptr;
    const char* hit_upper = nullptr;
    for (;;) {
        if (!hit_lower && next_lower < last)
            hit_lower = static_cast<const char*>(
                std::memchr(next_lower, key, static_cast<std::size_t>(last - next_lower)));
        if (!hit_upper && next_upper < last)
            hit_upper = static_cast<const char*>(
                std::memchr(next_upper, upper, static_cast<std::size_t>(last - next_upper)));
        if (!hit_lower) next_lower = last;
        if (!hit_upper) next_upper = last;
        const char* hit =
            hit_lower && (!hit_upper || hit_lower < hit_upper) ? hit_lower : hit_upper;
        if (!hit) return false;
        const char* start = hit - atom.key;
        std::size_t i = 0;
        while (i < size && ascii_lower(static_cast<unsigned char>(start[i])) ==
                               static_cast<unsigned char>(atom.text[i]))
            ++i;
        if (i == size) return true;
        if (hit == hit_lower) {
            next_lower = hit + 1;
            hit_lower = nullptr;
        } else {
            next_upper = hit + 1;
            hit_upper = nullptr;
        }
    }
}

// Two characters fold into ASCII letters ("ſ" into "s", the Kelvin sign into "k"): where the GBK
// table can give either, an ASCII search could miss what a caseless pattern matches.
bool folds_into_ascii(std::string_view text) {
    static const bool possible = [] {
        for (const char* c : {"\xC5\xBF", "\xE2\x84\xAA"})
            if (gbk_to_utf8(utf8_to_gbk(c)) == c) return true;
        return false;
    }();
    if (!possible) return false;
    return memmem(text.data(), text.size(), "\xC5\xBF", 2) ||
           memmem(text.data(), text.size(), "\xE2\x84\xAA", 3);
}

// False when the text lacks a literal that every match needs.
bool may_match(const Prefilter& prefilter, std::string_view text) {
    if (folds_into_ascii(text)) return true;
    std::vector<int> present;
    for (std::size_t i = 0; i < prefilter.atoms.size(); ++i) {
        const Atom& atom = prefilter.atoms[i];
        if (atom.text.empty() || holds(text, atom)) present.push_back(static_cast<int>(i));
    }
    std::vector<int> candidates;
    prefilter.filter->AllPotentials(present, &candidates);
    return !candidates.empty();
}

// Runs the fast path from `pos` on. Returns true when it went through the whole text; false when a
// search hit the step limit or failed, with `pos` where that search began: the matches before it
// are in the sink and RE2 goes on from there, so a page that makes PCRE2 backtrack still ends in
// linear time.
bool match_fast(const ScriptPattern& pattern, std::string_view text, SpanSink& sink,
                std::size_t& pos) {
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(pattern.fast.get(), nullptr);
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    bool done = false;
    if (data && context) {
        pcre2_set_match_limit(context, kFastStepLimit);
        const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.data());
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
        const auto groups = static_cast<std::size_t>(pattern.groups) + 1;
        // The converter's output is valid UTF-8, so PCRE2 need not check it on every search.
        while (pos <= text.size()) {
            const int rc = pcre2_match(pattern.fast.get(), subject, text.size(), pos,
                                       PCRE2_NO_UTF_CHECK, data, context);
            if (rc == PCRE2_ERROR_NOMATCH) {
                done = true;
                break;
            }
            if (rc <= 0) break;  // step limit or another failure: RE2 takes over here
            for (std::size_t g = 0; g < groups; ++g) {
                const PCRE2_SIZE b = ovector[2 * g];
                const bool matched = g < static_cast<std::size_t>(rc) && b != kUnset;
                sink.add(matched, matched ? b : 0, matched ? ovector[2 * g + 1] : 0);
            }
            const std::size_t b = ovector[0];
            const std::size_t e = ovector[1];
            if (!pattern.options.global) {
                done = true;
                break;
            }
            const std::size_t step =
                e < text.size() ? utf8_length(static_cast<unsigned char>(text[e])) : 1;
            if (!next_start(b, e, text.size(), step, pos)) {
                done = true;
                break;
            }
        }
    }
    pcre2_match_context_free(context);
    pcre2_match_data_free(data);
    return done;
}

void match_linear(const ScriptPattern& pattern, std::string_view text, SpanSink& sink,
                  std::size_t pos) {
    const RE2& re = *pattern.linear;
    std::vector<re2::StringPiece> groups(static_cast<std::size_t>(pattern.groups) + 1);
    const re2::StringPiece whole(text.data(), text.size());
    while (pos <= text.size()) {
        if (!re.Match(whole, pos, text.size(), RE2::UNANCHORED, groups.data(),
                      static_cast<int>(groups.size())))
            break;
        // RE2 searches byte by byte and can find an empty match inside a character (\B between two
        // of its bytes); a match starts on a character, so search on from the next one.
        const auto start = static_cast<std::size_t>(groups[0].data() - text.data());
        if (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            pos = start + 1;
            while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80)
                ++pos;
            continue;
        }
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
                                    std::shared_ptr<const Text> subject, ScriptMatchRoute route) {
    ScriptMatchSet set;
    set.width = static_cast<std::size_t>(pattern.groups) + 1;
    set.subject = subject ? std::move(subject) : std::make_shared<const Text>();
    if (set.subject->size() >= ScriptSpan::kNotMatched) return set;
    // Each thread keeps its conversion buffers: a worker matches page after page, and fresh
    // buffers of a page's size cost more than the fast path's matching.
    thread_local std::string utf8;
    thread_local std::vector<GbkUtf8Anchor> anchors;
    struct Trim {
        ~Trim() {
            if (utf8.capacity() > kKeptBuffer) std::string().swap(utf8);
            if (anchors.capacity() * sizeof(GbkUtf8Anchor) > kKeptBuffer)
                std::vector<GbkUtf8Anchor>().swap(anchors);
        }
    } trim;
    // A caseless RE2 pattern finds the same over the lowered text, should it take over.
    gbk_to_utf8(*set.subject, utf8, &anchors,
                pattern.lowered && route == ScriptMatchRoute::fast_first);
    SpanSink sink(set, anchors);
    if (pattern.linear) {
        std::size_t pos = 0;
        if (pattern.fast && route == ScriptMatchRoute::fast_first) {
            if (pattern.prefilter && !may_match(*pattern.prefilter, utf8)) {
                set.fast = true;
                return set;
            }
            set.fast = match_fast(pattern, utf8, sink, pos);
            if (set.fast) return set;
        }
        match_linear(pattern, utf8, sink, pos);
    } else if (pattern.backtracking)
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
