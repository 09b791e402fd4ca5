#pragma once
// What an answer that lacks its marker is, so every loop that asks again can tell a throttle from
// an anti-robot block, a network failure or a page whose shape the program no longer knows.
#include <string>
#include <string_view>

#include "runtime/text.h"

// One answer as the harvests see it, whichever route fetched it.
struct Answer {
    std::string url;          // the address asked
    Text body;                // GBK, as it arrived
    int status = 0;           // status of the final response; 0 when no whole response arrived
    std::string reached_url;  // where the fetch ended after following redirects
};

enum class AnswerKind {
    Marked,          // holds the marker the caller looks for
    Throttle,        // the documented throttle answer ("wait":5)
    Block,           // an anti-robot check: a login or security page, rgv587_flag, 403/429/5xx
    NetworkFailure,  // no whole answer: nothing came, or the transfer broke off
    Unrecognised,    // a whole answer with a body, but not one the program knows
};

AnswerKind classify_answer(const Answer& answer, std::string_view marker);

// An address on a login or security host (its host begins with "login." or "sec."), or a
// punishment page ("/punish" in its path): where a block sends the browser.
bool is_challenge_address(std::string_view url);

// Where a block answer wants the user to go: the challenge address it redirected to, else the
// one its body names ("url":"..."), made absolute; empty when it names none.
std::string challenge_address(const Answer& answer);

// A few words for the user on what the answer was (GBK).
Text answer_kind_text(AnswerKind kind);
