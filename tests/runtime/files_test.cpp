#include "runtime/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    void TearDown() override { fs::remove_all(dir_); }

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
    EXPECT_EQ(file_read_all(file), Bytes{});
    for (const fs::path& bad : {fs::path(), path("missing"), dir_})
        EXPECT_EQ(file_read_all(bad), Bytes{}) << bad;
    for (const fs::path& bad : {fs::path(), path("no/such/dir"), dir_})
        EXPECT_FALSE(file_write_all(bad, {bytes("x")})) << bad;
    std::string big(3 << 20, 'q');  // more than one read's worth comes back whole
    big[12345] = '\0';
    EXPECT_TRUE(file_write_all(file, {bytes(big)}));
    EXPECT_EQ(file_read_all(file), bytes(big));
}

TEST_F(FilesTest, ReadRegularRefusesWhatIsNoRegularFileOrTooLarge) {
    put(path("ten"), "0123456789");
    put(path("empty"), "");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        fs::path file;
        FileReadStatus status;
        std::string bytes;
    } cases[] = {
        {"within the limit", path("ten"), FileReadStatus::ok, "0123456789"},
        {"empty", path("empty"), FileReadStatus::ok, ""},
        {"one over the limit", path("ten"), FileReadStatus::too_large, ""},
        {"missing", path("missing"), FileReadStatus::unreadable, ""},
        {"directory", dir_, FileReadStatus::not_regular, ""},
        {"pipe without a writer", path("fifo"), FileReadStatus::not_regular, ""},
        {"endless device", "/dev/zero", FileReadStatus::not_regular, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t limit = std::string_view(c.name) == "one over the limit" ? 9 : 10;
        const FileRead read = file_read_regular(c.file, limit);
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(read.bytes, bytes(c.bytes));
    }
}

TEST_F(FilesTest, ModesTruncateCreateOrFail) {
    struct {
        int mode, share;
        bool exists;
        const char* after;  // content after writing "xy" at the start; nullptr: it cannot open
    } cases[] = {
        // clang-format off
        {1, 1, true, nullptr}, {1, 1, false, nullptr}, {2, 1, true, "xycd"}, {2, 1, false, nullptr},
        {3, 2, true, "xycd"}, {3, 1, false, nullptr}, {4, 3, true, "xy"}, {4, 4, false, "xy"},
        {5, 1, true, "xycd"}, {5, 1, false, "xy"}, {6, 1, true, "xycd"}, {6, 1, false, "xy"},
        {0, 1, true, nullptr}, {7, 1, true, nullptr}, {4, 0, true, nullptr}, {4, 5, true, nullptr},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const fs::path file = path("f" + std::to_string(&c - cases));
        if (c.exists) put(file, "abcd");
        const int number = file_open(file, c.mode, c.share);
        EXPECT_EQ(number != 0, c.after || (c.mode == 1 && c.exists));
        EXPECT_EQ(file_write_raw(number, "xy"), c.after != nullptr);
        file_close(number);
        // A read-only or refused open leaves the file as it was, and a missing one missing.
        const char* before = c.exists ? "abcd" : "(none)";
        EXPECT_EQ(fs::exists(file) ? get(file) : "(none)", c.after ? c.after : before);
    }
    EXPECT_EQ(file_open("", 4, 1), 0);
    EXPECT_EQ(file_open(dir_, 1, 1), 0);
    EXPECT_FALSE(file_seek_end(987654));
}

TEST_F(FilesTest, SharingDecidesSecondOpen) {
    struct {
        int first_mode, first_share, second_mode, second_share;
        bool second_opens;
    } cases[] = {
        // clang-format off
        {3, 4, 1, 1, false},  // exclusive refuses everyone
        {1, 1, 1, 4, false},  // exclusive is refused while anyone holds the file
        {1, 1, 2, 1, true}, {1, 3, 1, 3, true}, {2, 2, 2, 1, true}, {1, 1, 4, 1, true},
        {1, 3, 2, 1, false},  // a writer while writing is denied
        {2, 1, 1, 3, false},  // denying writing while a writer holds it
        {2, 2, 1, 1, false},  // a reader while reading is denied
        // clang-format on
    };
    const fs::path file = path("shared");
    put(file, "data");
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const int first = file_open(file, c.first_mode, c.first_share);
        ASSERT_NE(first, 0);
        const int second = file_open(file, c.second_mode, c.second_share);
        EXPECT_EQ(second != 0, c.second_opens);
        file_close(second);
        file_close(first);
        const int again = file_open(file, c.second_mode, c.second_share);  // nothing in the way now
        EXPECT_NE(again, 0);
        file_close(again);
    }
}

TEST_F(FilesTest, RefusedOpenDoesNotTruncateAndOthersSeeTheLock) {
    const fs::path file = path("locked");
    put(file, "precious");
    const int holder = file_open(file, 1, 4);
    ASSERT_NE(holder, 0);
    EXPECT_EQ(file_open(file, 4, 1), 0);
    EXPECT_FALSE(file_write_all(file, {bytes("x")}));
    EXPECT_EQ(file_read_all(file), Bytes{});
    EXPECT_EQ(get(file), "precious");
    const int fd = ::open(file.c_str(), O_RDONLY);  // as another process would
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_SH | LOCK_NB), 0);
    file_close(holder);
    EXPECT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
    ::close(fd);
}

TEST_F(FilesTest, LinesDataAppendAndStaleNumbers) {
    const fs::path file = path("lines.txt");
    int number = file_open(file, 4, 1);
    EXPECT_TRUE(file_write_lines(number, Text("a"), 12, true, 0.5));
    EXPECT_TRUE(file_close(number));
    EXPECT_EQ(get(file), "a\r\n12\r\n\xD5\xE6\r\n0.5\r\n");
    const int stale = number;
    number = file_open(file, 6, 1);
    EXPECT_NE(number, stale);  // a closed number is never handed out again
    EXPECT_FALSE(file_write_lines(stale, Text("lost")));
    EXPECT_TRUE(file_seek_end(number));
    EXPECT_TRUE(file_write_data(number, std::int16_t{0x4142}, Text("z"), Bytes{0}));
    EXPECT_TRUE(file_close(number));
    EXPECT_FALSE(file_close(number));
    EXPECT_EQ(get(file), std::string("a\r\n12\r\n\xD5\xE6\r\n0.5\r\nBAz\0", 20));
    const int full = file_open("/dev/full", 5, 1);  // writes the disk refuses are reported
    EXPECT_NE(full, 0);
    EXPECT_FALSE(file_write_lines(full, 1));
    file_close(full);
    EXPECT_FALSE(file_write_all("/dev/full", {bytes("x")}));
}

TEST_F(FilesTest, LinesFromManyThreadsStayWhole) {
    const fs::path file = path("threads.txt");
    const int number = file_open(file, 4, 1);
    std::vector<std::thread> threads;
    for (char t = 'a'; t < 'e'; ++t)
        threads.emplace_back([=] {
            for (int i = 0; i < 300; ++i)
                file_write_lines(number, Text(40, t));
        });
    for (auto& thread : threads)
        thread.join();
    file_close(number);
    const std::string content = get(file);
    ASSERT_EQ(content.size(), 4u * 300 * 42);
    for (size_t at = 0; at < content.size(); at += 42)
        ASSERT_EQ(content.substr(at, 42), std::string(40, content[at]) + "\r\n") << at;
}

}  // namespace
