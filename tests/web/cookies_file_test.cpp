#include "web/cookies_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

bool same(const Cookie& a, const Cookie& b) {
    return a.name == b.name && a.value == b.value && a.domain == b.domain && a.path == b.path &&
           a.secure == b.secure && a.http_only == b.http_only && a.expires == b.expires;
}

TEST(CookiesFile, LinesBecomeCookies) {
    const std::string text =
        "# Netscape HTTP Cookie File\r\n"
        "\r\n"
        ".taobao.test\tTRUE\t/\tFALSE\t0\tsession\tabc\r\n"
        "login.taobao.test\tFALSE\t/member\tTRUE\t2000000000\ttoken\tx=y;z\n"
        "#HttpOnly_.tmall.test\tTRUE\t/\tFALSE\t1700000000\tsid\t\n"
        "taobao.test\tTRUE\t\tfalse\t0\tdot\t1\n"
        "#.commented.test\tTRUE\t/\tFALSE\t0\tnope\t1";
    std::string error;
    const auto cookies = parse_cookies_txt(text, error);
    ASSERT_TRUE(cookies) << error;
    ASSERT_EQ(cookies->size(), 4u);
    const Cookie want[] = {
        {"session", "abc", ".taobao.test", "/", false, false, std::nullopt},
        {"token", "x=y;z", "login.taobao.test", "/member", true, false, 2000000000},
        {"sid", "", ".tmall.test", "/", false, true, 1700000000},
        {"dot", "1", ".taobao.test", "/", false, false, std::nullopt},
    };
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(same((*cookies)[i], want[i])) << i;
    // Written out and read back, the same cookies.
    const auto again = parse_cookies_txt(cookies_txt(*cookies), error);
    ASSERT_TRUE(again) << error;
    ASSERT_EQ(again->size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(same((*again)[i], want[i])) << i;
}

TEST(CookiesFile, BadLinesNameTheLineAndNeverTheValue) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"# c\n.a.test\tTRUE\t/\tFALSE\t0\tname secretvalue\n", "line 2: expected 7"},
        {".a.test\tYES\t/\tFALSE\t0\tn\tsecretvalue\n", "line 1: the second and fourth"},
        {".a.test\tTRUE\t/\tFALSE\tsoon\tn\tsecretvalue\n", "line 1: the expiry"},
        {".a.test\tTRUE\t/\tFALSE\t-5\tn\tsecretvalue\n", "line 1: the expiry"},
        {"\n\n\tTRUE\t/\tFALSE\t0\tn\tsecretvalue\n", "line 3: a cookie needs"},
        {".a.test\tTRUE\t/\tFALSE\t0\t\tsecretvalue\n", "line 1: a cookie needs"},
        // A dot alone names no domain, whichever way the flag goes.
        {".\tFALSE\t/\tFALSE\t0\tn\tsecretvalue\n", "line 1: a cookie needs"},
        {"#HttpOnly_.\tTRUE\t/\tFALSE\t0\tn\tsecretvalue\n", "line 1: a cookie needs"},
        {".#HttpOnly_a.test\tFALSE\t/\tFALSE\t0\tn\tsecretvalue\n", "line 1: a domain cannot"},
        {"#HttpOnly_#a.test\tTRUE\t/\tFALSE\t0\tn\tsecretvalue\n", "line 1: a domain cannot"},
        {".a.test\tTRUE\t/\tFALSE\t0\tn\tsecretvalue\r\r\n", "line 1: a carriage return"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(parse_cookies_txt(c.text, error)) << c.text;
        EXPECT_TRUE(error.starts_with(c.error)) << error;
        EXPECT_EQ(error.find("secretvalue"), std::string::npos) << error;
    }
}

TEST(CookiesFile, SavedSignInIsOwnerOnlyAndLoadsBack) {
    const fs::path dir = fs::temp_directory_path() / ("cookies_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const fs::path file = dir / "sub" / "login.txt";
    clear_cookies();
    ASSERT_TRUE(add_cookie({"sid", "s3cr3t", ".taobao.test", "/", false, true, std::nullopt}));
    std::string error;
    ASSERT_TRUE(save_cookies_file(file, error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // An existing file readable by others is replaced by an owner-only one.
    ::chmod(file.c_str(), 0644);
    ASSERT_TRUE(save_cookies_file(file, error)) << error;
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    clear_cookies();
    ASSERT_TRUE(load_cookies_file(file, error)) << error;
    const auto held = list_cookies();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].value, "s3cr3t");
    EXPECT_TRUE(held[0].http_only);
    EXPECT_FALSE(load_cookies_file(dir / "none.txt", error));
    EXPECT_NE(error.find("none.txt"), std::string::npos);
    clear_cookies();
    fs::remove_all(dir);
}

}  // namespace
