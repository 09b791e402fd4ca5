#include "web/cookies_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

std::vector<std::string_view> split_tabs(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    return fields;
}

std::optional<bool> flag(std::string_view field) {
    if (field == "TRUE" || field == "true") return true;
    if (field == "FALSE" || field == "false") return false;
    return std::nullopt;
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::vector<Cookie>> parse_cookies_txt(std::string_view text, std::string& error) {
    std::vector<Cookie> cookies;
    size_t number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        bool http_only = false;
        if (line.starts_with(kHttpOnlyPrefix)) {
            http_only = true;
            line.remove_prefix(kHttpOnlyPrefix.size());
        } else if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto fields = split_tabs(line);
        const std::string at = "line " + std::to_string(number) + ": ";
        // A carriage return inside a line would end it when the cookie is written back.
        if (line.find('\r') != std::string_view::npos) {
            error = at + "a carriage return inside the line";
            return std::nullopt;
        }
        if (fields.size() != 7) {
            error = at + "expected 7 tab-separated fields, found " + std::to_string(fields.size());
            return std::nullopt;
        }
        const auto subdomains = flag(fields[1]);
        const auto secure = flag(fields[3]);
        if (!subdomains || !secure) {
            error = at + "the second and fourth fields must be TRUE or FALSE";
            return std::nullopt;
        }
        long long expires = 0;
        const auto [end_of_number, problem] =
            std::from_chars(fields[4].data(), fields[4].data() + fields[4].size(), expires);
        if (problem != std::errc() || end_of_number != fields[4].data() + fields[4].size() ||
            expires < 0) {
            error = at + "the expiry must be a whole number of seconds";
            return std::nullopt;
        }
        std::string domain(fields[0]);
        // The flag decides whether subdomains match; the store reads that from a leading dot.
        if (*subdomains && !domain.starts_with('.')) domain.insert(0, ".");
        if (!*subdomains && domain.starts_with('.')) domain.erase(0, 1);
        if (domain.empty() || domain == "." || fields[5].empty()) {
            error = at + "a cookie needs a domain and a name";
            return std::nullopt;
        }
        // Written back, such a domain would read as a comment or an HTTP-only mark.
        if (domain.starts_with('#') || domain.starts_with(".#")) {
            error = at + "a domain cannot begin with #";
            return std::nullopt;
        }
        Cookie c;
        c.domain = domain;
        c.path = fields[2].empty() ? "/" : std::string(fields[2]);
        c.secure = *secure;
        c.http_only = http_only;
        if (expires > 0) c.expires = expires;
        c.name = std::string(fields[5]);
        c.value = std::string(fields[6]);
        cookies.push_back(std::move(c));
    }
    return cookies;
}

std::string cookies_txt(const std::vector<Cookie>& cookies) {
    std::string text = "# Netscape HTTP Cookie File\n";
    for (const Cookie& c : cookies) {
        if (c.http_only) text += kHttpOnlyPrefix;
        text += c.domain + "\t" + (c.include_subdomains() ? "TRUE" : "FALSE") + "\t" + c.path +
                "\t" + (c.secure ? "TRUE" : "FALSE") + "\t" +
                std::to_string(c.expires.value_or(0)) + "\t" + c.name + "\t" + c.value + "\n";
    }
    return text;
}

bool load_cookies_file(const std::filesystem::path& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read cookies file " + path.string();
        return false;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string problem;
    const auto cookies = parse_cookies_txt(text, problem);
    if (!cookies) {
        error = "cookies file " + path.string() + " " + problem;
        return false;
    }
    for (const Cookie& c : *cookies) {
        if (!add_cookie(c)) {
            error = "cookies file " + path.string() + ": cookie " + c.name + " cannot be stored";
            return false;
        }
    }
    return true;
}

bool save_cookies_file(const std::filesystem::path& path, std::string& error) {
    std::error_code ignored;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
    std::filesystem::path part = path;
    part += ".part";
    ::unlink(part.c_str());
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write " + path.string();
        return false;
    }
    const bool written = ::fchmod(fd, 0600) == 0 && write_all(fd, cookies_txt(list_cookies()));
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(part.c_str(), path.c_str()) != 0) {
        ::unlink(part.c_str());
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}
