#include "runtime/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace {

class FilesTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zembra-files-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path path(const std::string& name) const { return dir_ / name; }

    static void put(const fs::path& p, const std::string& content) {
        std::ofstream(p, std::ios::binary) << content;
    }
    static std::string get(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

Bytes bytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

TEST_F(FilesTest, ReadAllAndWriteAll) {
    const fs::path file = path("data.bin");
    EXPECT_TRUE(file_write_all(file, {bytes("ab"), Bytes{0, 1}, Bytes{}, bytes("\xB0\r\n")}));
    EXPECT_EQ(file_read_all(file), (Bytes{'a', 'b', 0, 1, 0xB0, '\r', '\n'}));

    EXPECT_TRUE(file_write_all(file, {bytes("z")}));  // truncates the longer content
    EXPECT_EQ(file_read_all(file), bytes("z"));

    EXPECT_TRUE(file_write_all(file, {}));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(file_read_all(file), Bytes{});

    EXPECT_EQ(file_read_all(""), Bytes{});
    EXPECT_EQ(file_read_all(path("missing")), Bytes{});
    EXPECT_EQ(file_read_all(dir_), Bytes{});
    EXPECT_FALSE(file_write_all("", {bytes("x")}));
    EXPECT_FALSE(file_write_all(path("no/such/dir/f"), {bytes("x")}));
    EXPECT_FALSE(file_write_all(dir_, {bytes("x")}));

    // A page-sized file comes back whole.
    std::string big(3 << 20, 'q');
    big[12345] = '\0';
    EXPECT_TRUE(file_write_all(file, {bytes(big)}));
    EXPECT_EQ(file_read_all(file), bytes(big));
}

TEST_F(FilesTest, ModesTruncateCreateOrFail) {
    struct Case {
        int mode;
        bool exists;
        bool opens;
        bool can_write;
        const char* after;  // content after writing "xy" at the start; nullptr = file absent
    } cases[] = {
        {1, true, true, false, "abcd"}, {1, false, false, false, nullptr},
        {2, true, true, true, "xycd"},  {2, false, false, false, nullptr},
        {3, true, true, true, "xycd"},  {3, false, false, false, nullptr},
        {4, true, true, true, "xy"},    {4, false, true, true, "xy"},
        {5, true, true, true, "xycd"},  {5, false, true, true, "xy"},
        {6, true, true, true, "xycd"},  {6, false, true, true, "xy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << c.mode << (c.exists ? " existing" : " missing"));
        const fs::path file = path("mode" + std::to_string(c.mode) + (c.exists ? "e" : "m"));
        if (c.exists) put(file, "abcd");
        const int number = file_open(file, c.mode, 1);
        EXPECT_EQ(number != 0, c.opens);
        EXPECT_EQ(file_write_raw(number, "xy"), c.can_write);
        if (number) {
            EXPECT_TRUE(file_close(number));
        }
        if (c.after) {
            EXPECT_EQ(get(file), c.after);
        } else {
            EXPECT_FALSE(fs::exists(file));
        }
    }
}

TEST_F(FilesTest, InvalidArgumentsGiveZeroAndLeaveFileAlone) {
    const fs::path file = path("keep");
    put(file, "keep me");
    const std::pair<int, int> cases[] = {{0, 1}, {7, 1}, {-1, 1}, {4, 0}, {4, 5}, {4, -1}};
    for (const auto& [mode, share] : cases) {
        EXPECT_EQ(file_open(file, mode, share), 0) << mode << "/" << share;
    }
    EXPECT_EQ(get(file), "keep me");
    EXPECT_EQ(file_open("", 4, 1), 0);
    EXPECT_EQ(file_open(dir_, 1, 1), 0);
    EXPECT_FALSE(file_close(0));
    EXPECT_FALSE(file_close(987654));
    EXPECT_FALSE(file_seek_end(987654));
    EXPECT_FALSE(file_write_raw(-3, "x"));
}

TEST_F(FilesTest, SharingDecidesSecondOpen) {
    struct Case {
        int first_mode, first_share, second_mode, second_share;
        bool second_opens;
    } cases[] = {
        {3, 4, 1, 1, false},  // exclusive refuses everyone
        {1, 1, 1, 4, false},  // exclusive is refused while anyone holds the file
        {1, 1, 2, 1, true},   // deny none
        {1, 3, 1, 3, true},   // readers that deny writing
        {1, 3, 2, 1, false},  // a writer while writing is denied
        {2, 1, 1, 3, false},  // denying writing while a writer holds it
        {2, 2, 1, 1, false},  // a reader while reading is denied
        {2, 2, 2, 1, true},  {1, 1, 4, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first_mode << "/" << c.first_share << " then "
                                        << c.second_mode << "/" << c.second_share);
        const fs::path file = path("shared");
        put(file, "data");
        const int first = file_open(file, c.first_mode, c.first_share);
        ASSERT_NE(first, 0);
        const int second = file_open(file, c.second_mode, c.second_share);
        EXPECT_EQ(second != 0, c.second_opens);
        if (second) file_close(second);
        file_close(first);
        // Once the first is closed, nothing stands in the way.
        const int again = file_open(file, c.second_mode, c.second_share);
        EXPECT_NE(again, 0);
        file_close(again);
    }
}

TEST_F(FilesTest, RefusedOpenDoesNotTruncate) {
    const fs::path file = path("locked");
    put(file, "precious");
    const int holder = file_open(file, 1, 4);
    ASSERT_NE(holder, 0);
    EXPECT_EQ(file_open(file, 4, 1), 0);
    EXPECT_FALSE(file_write_all(file, {bytes("x")}));
    EXPECT_EQ(file_read_all(file), Bytes{});
    EXPECT_EQ(get(file), "precious");

    // Other processes see the exclusive open as a held lock.
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_SH | LOCK_NB), 0);
    file_close(holder);
    EXPECT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
    ::close(fd);
}

TEST_F(FilesTest, LinesDataAndAppend) {
    const fs::path file = path("lines.txt");
    int number = file_open(file, 4, 1);
    ASSERT_NE(number, 0);
    EXPECT_TRUE(file_write_lines(number, Text("a"), 12, true, 0.5));
    EXPECT_TRUE(file_close(number));
    EXPECT_EQ(get(file), "a\r\n12\r\n\xD5\xE6\r\n0.5\r\n");

    number = file_open(file, 6, 1);
    ASSERT_NE(number, 0);
    EXPECT_TRUE(file_seek_end(number));
    EXPECT_TRUE(file_write_data(number, std::int16_t{0x4142}, Text("z"), Bytes{0}));
    EXPECT_TRUE(file_close(number));
    EXPECT_EQ(get(file), std::string("a\r\n12\r\n\xD5\xE6\r\n0.5\r\nBAz\0", 20));
}

TEST_F(FilesTest, ClosedNumberNeverReachesAnotherFile) {
    const int first = file_open(path("one"), 4, 1);
    ASSERT_NE(first, 0);
    EXPECT_TRUE(file_close(first));
    EXPECT_FALSE(file_close(first));
    const int second = file_open(path("two"), 4, 1);
    ASSERT_NE(second, 0);
    EXPECT_NE(second, first);
    EXPECT_FALSE(file_write_lines(first, Text("stale")));
    EXPECT_FALSE(file_seek_end(first));
    file_close(second);
    EXPECT_EQ(get(path("two")), "");
}

TEST_F(FilesTest, LinesFromManyThreadsStayWhole) {
    const fs::path file = path("threads.txt");
    const int number = file_open(file, 4, 1);
    ASSERT_NE(number, 0);
    constexpr int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([=] {
            for (int i = 0; i < kLines; ++i)
                file_write_lines(number, Text(40, char('a' + t)));
        });
    }
    for (auto& thread : threads)
        thread.join();
    file_close(number);
    const std::string content = get(file);
    ASSERT_EQ(content.size(), size_t{kThreads * kLines * 42});
    for (size_t at = 0; at < content.size(); at += 42) {
        ASSERT_EQ(content.substr(at + 40, 2), "\r\n") << at;
        ASSERT_EQ(content.substr(at, 40), std::string(40, content[at])) << at;
    }
}

}  // namespace
