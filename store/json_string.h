#pragma once
// JSON strings for the texts the store writes (the JSON-lines export, a page's buyer IDs).
#include <string>
#include <string_view>

// Appends `utf8` to `out` as a JSON string: quotes, backslashes and control characters escaped.
void json_string(std::string& out, std::string_view utf8);
