#pragma once
// Cookies in the Netscape cookies.txt format that browser export add-ons and curl write: one
// cookie per line, seven fields split by tabs (domain, include-subdomains, path, secure, expiry,
// name, value); "#HttpOnly_" before the domain marks an HTTP-only cookie; other lines starting
// with "#" and empty lines are comments. A cookie's value is never put into a message.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/cookie_store.h"

// The cookies of the text; nullopt with "line N: ..." in error for a line that is no cookie.
std::optional<std::vector<Cookie>> parse_cookies_txt(std::string_view text, std::string& error);

// The text of the cookies (a header comment, then one line each).
std::string cookies_txt(const std::vector<Cookie>& cookies);

// Reads a cookies.txt into the shared cookie store. False with the reason in error (the file
// and line named, never a value); a file that does not parse stores nothing.
bool load_cookies_file(const std::filesystem::path& path, std::string& error);

// Writes every cookie of the shared store to path, readable by its owner only (mode 0600, also
// when the file was there before), whole or not at all; its folder is made when missing.
bool save_cookies_file(const std::filesystem::path& path, std::string& error);
