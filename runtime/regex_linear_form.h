#pragma once
// The runtime expression (Perl syntax over bytes, case-sensitive) rewritten for the linear-time
// engine, when every construct in it means exactly the same there: literals, groups, alternation,
// greedy and lazy repeats, ".", the \d \w \s classes and their negations, \b, simple bracket
// classes. Anything else (anchors, back-references, look-around, inline flags, POSIX classes,
// byte ranges above 0x7F) gives nullopt and the expression stays on the backtracking engine.
#include <optional>
#include <string>
#include <string_view>

std::optional<std::string> regex_linear_form(std::string_view pattern);
