#pragma once
// Cutting fields out of answers between fixed text markers, and the two varying pieces of a review
// address. All searches are exact byte searches on character boundaries, positions as text_find.
#include <string_view>
#include <vector>

#include "runtime/text.h"

// Options of extract_between that the review harvest never passes.
struct ExtractOptions {
    long long start = 1;         // position the search for the start marker begins at
    bool ignore_case = false;    // ASCII letters compare without case
    bool keep_markers = false;   // the result includes both markers
    bool whole_if_none = false;  // nothing found gives the whole text instead of the empty one
};

// The text between the first start marker and the first end marker after it; empty when either is
// missing (or when the end marker follows the start marker at once).
Text extract_between(std::string_view text, std::string_view start, std::string_view end,
                     const ExtractOptions& options = {});

// The text after the last occurrence of the marker; empty when it is missing.
Text extract_after(std::string_view text, std::string_view marker);

// Every text between a start marker and the next end marker after it, in order; the search for the
// next start marker resumes after that end marker. A piece containing `filter` (when not empty) is
// skipped, and the search resumes just after its start marker instead.
std::vector<Text> extract_all_between(std::string_view text, std::string_view start,
                                      std::string_view end, std::string_view filter = {});

// The first occurrence of each distinct text, in input order (exact byte comparison).
std::vector<Text> unique_texts(const std::vector<Text>& texts);

// Milliseconds since 1 January 1970 (system clock) as decimal text.
Text js_time_ms();

// n decimal digits from the calling thread's generator, seeded afresh; empty for n < 1.
Text random_digits(int n);
