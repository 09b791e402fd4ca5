#include "runtime/regex_linear_form.h"

namespace {

// The space class of the backtracking engine in the C locale; the linear one leaves out \v.
constexpr std::string_view kSpaces = "\\t\\n\\v\\f\\r ";

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_ascii_alnum(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Punctuation that both engines read as itself after a backslash. \< \> \` \' are word and
// buffer anchors on the backtracking engine.
bool literal_escape(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x21 || u > 0x7E || is_ascii_alnum(c)) return false;
    return c != '<' && c != '>' && c != '`' && c != '\'';
}

class Rewriter {
public:
    explicit Rewriter(std::string_view in) : in_(in) {}

    std::optional<std::string> run() {
        while (pos_ < in_.size()) {
            if (!step()) return std::nullopt;
        }
        // The linear engine folds branches that begin alike ("\xFEa|\xFEb", as GBK words sharing
        // a first byte do) into a form that no longer matches them in Latin-1.
        if (alternation_ && high_byte_) return std::nullopt;
        return out_;
    }

private:
    bool step() {
        const bool after_group = after_group_;
        after_group_ = false;
        const char c = in_[pos_++];
        // A repeated group may match empty on a turn, and the engines then keep different texts
        // for it; an optional group is the same on both.
        if (after_group && (c == '*' || c == '+' || c == '{')) return false;
        switch (c) {
            case '\\':
                return escape();
            case '.':
                out_ += "(?s:.)";  // the backtracking engine's "." takes line ends too
                return true;
            case '^':
            case '$':
                return false;  // line anchors differ in what ends a line
            case '(':
                if (pos_ < in_.size() && in_[pos_] == '?') {
                    if (pos_ + 1 >= in_.size() || in_[pos_ + 1] != ':') return false;
                    pos_ += 2;
                    out_ += "(?:";
                    return true;
                }
                out_ += '(';
                return true;
            case '{':
                return counted_repeat();
            case '[':
                return bracket();
            case '*':
            case '+':
            case '?':
                out_ += c;
                // A possessive repeat exists on one engine only.
                if (pos_ < in_.size() && in_[pos_] == '+') return false;
                return true;
            case ')':
                after_group_ = true;
                out_ += c;
                return true;
            default:
                out_ += c;  // | and every literal byte, GBK ones too (read as Latin-1)
                if (c == '|') alternation_ = true;
                if (static_cast<unsigned char>(c) >= 0x80) high_byte_ = true;
                return true;
        }
    }

    bool escape() {
        if (pos_ >= in_.size()) return false;
        const char c = in_[pos_++];
        switch (c) {
            case 's':
                out_ += "[";
                out_ += kSpaces;
                out_ += "]";
                return true;
            case 'S':
                out_ += "[^";
                out_ += kSpaces;
                out_ += "]";
                return true;
            case 'd':
            case 'D':
            case 'w':
            case 'W':
            case 'b':
            case 't':
            case 'n':
            case 'r':
            case 'f':
            case 'v':
                out_ += '\\';
                out_ += c;
                return true;
            case 'B':
                // The backtracking engine never finds it at either end of the text; the linear
                // one does wherever a non-word byte stands there.
                return false;
            default:
                if (!literal_escape(c)) return false;
                out_ += '\\';
                out_ += c;
                return true;
        }
    }

    // {n}, {n,} or {n,m}, copied with its lazy mark; anything else is refused, as a lone brace
    // is read differently by the two engines.
    bool counted_repeat() {
        size_t i = pos_;
        auto digits = [&] {
            const size_t from = i;
            while (i < in_.size() && is_digit(in_[i]) && i - from < 4)
                ++i;
            return i > from && (i >= in_.size() || !is_digit(in_[i]));
        };
        if (!digits()) return false;
        if (i < in_.size() && in_[i] == ',') {
            ++i;
            if (i < in_.size() && in_[i] != '}' && !digits()) return false;
        }
        if (i >= in_.size() || in_[i] != '}') return false;
        ++i;
        out_ += '{';
        out_ += in_.substr(pos_, i - pos_);
        pos_ = i;
        if (pos_ < in_.size() && in_[pos_] == '+') return false;
        return true;
    }

    // One class member: a byte or an escape; its byte value in *value when it is a single byte.
    bool class_member(int* value) {
        if (pos_ >= in_.size()) return false;
        const char c = in_[pos_++];
        if (c == '[') return false;  // POSIX classes and the like
        if (c != '\\') {
            out_ += c;
            *value = static_cast<unsigned char>(c);
            return true;
        }
        if (pos_ >= in_.size()) return false;
        const char e = in_[pos_++];
        *value = -1;
        switch (e) {
            case 's':
                out_ += kSpaces;
                return true;
            case 'd':
            case 'w':
            case 'D':
            case 'W':
                out_ += '\\';
                out_ += e;
                return true;
            case 't':
                *value = '\t';
                break;
            case 'n':
                *value = '\n';
                break;
            case 'r':
                *value = '\r';
                break;
            case 'f':
                *value = '\f';
                break;
            case 'v':
                *value = '\v';
                break;
            default:
                if (!literal_escape(e)) return false;
                *value = static_cast<unsigned char>(e);
                break;
        }
        out_ += '\\';
        out_ += e;
        return true;
    }

    bool bracket() {
        out_ += '[';
        if (pos_ < in_.size() && in_[pos_] == '^') {
            out_ += '^';
            ++pos_;
        }
        // A leading "]" is a member on one engine and an empty class on another.
        if (pos_ >= in_.size() || in_[pos_] == ']') return false;
        while (pos_ < in_.size() && in_[pos_] != ']') {
            int low = -1;
            if (!class_member(&low)) return false;
            if (low >= 0x80) return false;  // how ranges and classes order high bytes differs
            if (pos_ + 1 < in_.size() && in_[pos_] == '-' && in_[pos_ + 1] != ']') {
                out_ += '-';
                ++pos_;
                int high = -1;
                if (!class_member(&high)) return false;
                if (low < 0 || high < 0 || high >= 0x80 || high < low) return false;
            }
        }
        if (pos_ >= in_.size()) return false;
        ++pos_;
        out_ += ']';
        return true;
    }

    std::string_view in_;
    size_t pos_ = 0;
    bool after_group_ = false;
    bool alternation_ = false;
    bool high_byte_ = false;
    std::string out_;
};

}  // namespace

std::optional<std::string> regex_linear_form(std::string_view pattern) {
    return Rewriter(pattern).run();
}
