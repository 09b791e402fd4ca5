#pragma once
// Cutting a field out of a page between two fixed markers.
#include <string_view>

#include "runtime/text.h"

// The text between the first start marker and the first end marker after it; empty when either
// is missing. Both markers may write a double quote as "#引号" (GBK), which is replaced first, so
// markers holding quotes can be written without escapes. Exact byte comparison.
Text cut_between(std::string_view text, std::string_view start_marker, std::string_view end_marker);
