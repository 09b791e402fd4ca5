// The list files byte for byte, through the window's buttons with the file dialog answered here.
#include "app/list_files.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "app/file_dialog.h"
#include "tests/app/bound_window_fixture.h"
#include "tests/support/file_size_limit.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUrls = "超级列表框2_URL";
constexpr const char* kBuyers = "超级列表框1_user";
constexpr const char* kNames = "超级列表框";

using Rows = std::vector<Text>;

class ListFiles : public BoundWindow {
protected:
    void SetUp() override {
        BoundWindow::SetUp();
        dir_ = fs::temp_directory_path() / ("zembra_lists_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        BoundWindow::TearDown();
        fs::remove_all(dir_);
    }

    fs::path write(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::optional<std::string> read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // The next dialog is confirmed with path (or cancelled); records what it was set up as.
    void answer(std::optional<fs::path> path) {
        state().file_dialog.set_answerer([this, path](const FileDialog& dialog) {
            seen_mode_ = dialog.mode();
            seen_extension_ = dialog.default_extension();
            seen_filter_ = dialog.filter();
            ++shown_;
            return path;
        });
    }

    // The messages shown after the first `before` ones.
    std::vector<Text> messages_since(size_t before) {
        const std::vector<Text> all = messages();
        return std::vector<Text>(all.begin() + static_cast<long>(before), all.end());
    }
    static Text export_failed() { return gbk("导出失败：文件未能完整写入，原有文件保持不变。"); }

    fs::path dir_;
    FileDialog::Mode seen_mode_ = FileDialog::Mode::Save;
    Text seen_extension_;
    Text seen_filter_;
    int shown_ = 0;
};

TEST_F(ListFiles, ImportUrlsAppendsOneRowPerLine) {
    const struct {
        const char* name;
        std::string bytes;
        Rows rows;
    } cases[] = {
        {"two lines", "a\r\nb\r\n", {"a", "b"}},
        {"empty line inside", "a\r\n\r\nb", {"a", "", "b"}},
        {"no end after the last line", "x\r\ny", {"x", "y"}},
        {"duplicates kept", "d\r\nd\r\n", {"d", "d"}},
        {"empty file", "", {}},
        {"only a line end", "\r\n", {""}},
        {"LF only is one line", "a\nb\n", {"a\nb\n"}},
        {"CR only is one line", "a\rb", {"a\rb"}},
        {"stops at the first NUL", std::string("x\r\ny\0z\r\nw", 9), {"x", "y"}},
        {"UTF-16 cut at its first NUL", std::string("a\0b\0\r\0\n\0", 8), {"a"}},
        {"GBK kept byte for byte",
         "\xC3\xAB\xD2\xC2\r\nhttp://x/?id=1\r\n",
         {"\xC3\xAB\xD2\xC2", "http://x/?id=1"}},
        // A line end right after a lead byte is that character's second byte, not a line end.
        {"line end after a lead byte", "\xC4\r\nq\r\nr", {"\xC4\r\nq", "r"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ops().clear_rows(kUrls);
        answer(write("urls.txt", c.bytes));
        click("按钮2_导入");
        EXPECT_EQ(column(kUrls, 0), c.rows);
        EXPECT_EQ(seen_mode_, FileDialog::Mode::Open);
        EXPECT_EQ(seen_extension_, "txt");
        EXPECT_EQ(seen_filter_, gbk("文本文件(*.txt)|*.txt"));
    }
}

TEST_F(ListFiles, ImportUrlsAddsToTheRowsThereAndCancelAddsNothing) {
    const fs::path file = write("urls.txt", "a\r\nb\r\n");
    answer(file);
    click("按钮2_导入");
    click("按钮2_导入");
    EXPECT_EQ(column(kUrls, 0), (Rows{"a", "b", "a", "b"}));

    answer(std::nullopt);
    click("按钮2_导入");
    EXPECT_EQ(ops().row_count(kUrls), 4);
    EXPECT_EQ(state().file_dialog.path(), file) << "a cancel changed the chosen path";

    answer(dir_ / "missing.txt");
    click("按钮2_导入");
    EXPECT_EQ(ops().row_count(kUrls), 4) << "a missing file added rows";
}

// The import handles events between its batches; a click on the button meanwhile is not a second
// import mixing its rows into the first.
TEST_F(ListFiles, ClickDuringAnImportStartsNoSecondOne) {
    std::string bytes;
    for (int i = 0; i < 20000; ++i)
        bytes += "u" + std::to_string(i) + "\r\n";
    answer(write("many.txt", bytes));
    QTimer::singleShot(0, [this] { click("按钮2_导入"); });
    click("按钮2_导入");
    pump_for(std::chrono::milliseconds(50));
    EXPECT_EQ(shown_, 1);
    const Rows rows = column(kUrls, 0);
    ASSERT_EQ(rows.size(), 20000u);
    EXPECT_EQ(rows.back(), "u19999");
}

TEST_F(ListFiles, ClearUrlsEmptiesTheListAndRewindsTheReviewCursor) {
    ops().append_rows(kUrls, {{"a"}, {"b"}});
    state().values.ReviewCursor = 2;
    click("按钮7");
    EXPECT_EQ(ops().row_count(kUrls), 0);
    EXPECT_EQ(state().values.ReviewCursor.load(), 0);
}

TEST_F(ListFiles, ExportBuyerIdsWritesColumnOneWithCrLf) {
    const struct {
        const char* name;
        std::vector<std::vector<Text>> rows;  // columns 0 and 1
        std::string bytes;
    } cases[] = {
        {"empty list", {}, ""},
        {"two rows", {{"1", "x"}, {"2", "y"}}, "x\r\ny\r\n"},
        {"empty ID keeps its line", {{"1", ""}, {"2", "z"}}, "\r\nz\r\n"},
        {"GBK bytes", {{"1", "\xC3\xAB\xD2\xC2"}}, "\xC3\xAB\xD2\xC2\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ops().clear_rows(kBuyers);
        ops().append_rows(kBuyers, c.rows);
        // An older, longer file of that name is replaced.
        const fs::path out = write("ids.txt", std::string(100, 'o'));
        const size_t before = messages().size();
        answer(out);
        click("按钮5_导出");
        EXPECT_EQ(read(out), c.bytes);
        ASSERT_EQ(messages().size(), before + 1);
        EXPECT_EQ(messages().back(), gbk("导出成功"));
        EXPECT_EQ(seen_mode_, FileDialog::Mode::Save);
        EXPECT_EQ(seen_extension_, "txt");
        EXPECT_EQ(seen_filter_,
                  gbk("文本文件(*.txt)|*.txt|CSV (*.csv)|*.csv|Excel (*.xlsx)|*.xlsx"));
        EXPECT_EQ(ops().row_count(kBuyers), static_cast<int>(c.rows.size()));
    }
}

// The file type chosen decides the format: the same IDs as text cells of a spreadsheet.
TEST_F(ListFiles, ExportBuyerIdsToASpreadsheetByTheChosenType) {
    ops().append_rows(kBuyers, {{"1", "123456789012345678"}, {"2", "=1+2"}});
    const struct {
        const char* name;
        std::string start;
    } cases[] = {
        {"ids.csv", "\xEF\xBB\xBF=\"123456789012345678\"\r\n'=1+2\r\n"},
        {"ids.xlsx", "PK"},
    };
    for (const auto& c : cases) {
        const fs::path out = dir_ / c.name;
        answer(out);
        click("按钮5_导出");
        EXPECT_EQ(read(out).value_or("").substr(0, c.start.size()), c.start) << c.name;
        EXPECT_EQ(messages().back(), gbk("导出成功")) << c.name;
    }
}

// A cancel shows nothing; a failed write says so and leaves no file behind.
TEST_F(ListFiles, ExportBuyerIdsFailures) {
    ops().append_rows(kBuyers, {{"1", "x"}});
    const struct {
        const char* name;
        std::optional<fs::path> answer;
        fs::path must_not_exist;
        bool says_failed;
    } cases[] = {
        {"cancelled", std::nullopt, dir_ / "ids.txt", false},
        {"directory missing", dir_ / "no" / "ids.txt", dir_ / "no" / "ids.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.answer);
        const size_t before = messages().size();
        click("按钮5_导出");
        const std::vector<Text> shown = messages_since(before);
        ASSERT_EQ(shown.size(), c.says_failed ? 1u : 0u);
        if (c.says_failed) {
            EXPECT_TRUE(shown[0].starts_with(export_failed()));
        }
        EXPECT_FALSE(fs::exists(c.must_not_exist));
        EXPECT_EQ(ops().row_count(kBuyers), 1);
    }
}

// An export that cannot be written whole (here the file-size limit, as a full disk would) keeps
// the file that was there, says so and leaves no partial file.
TEST_F(ListFiles, ExportThatCannotBeWrittenKeepsTheOldFile) {
    std::vector<std::vector<Text>> rows;
    for (int i = 0; i < 20000; ++i)
        rows.push_back({to_text(i), "buyer" + to_text(i)});
    ops().append_rows(kBuyers, rows);
    const fs::path out = write("ids.txt", "previous\r\n");
    answer(out);
    {
        const ScopedFileSizeLimit limit(8192);  // SIGXFSZ ignored, as the program sets it up
        click("按钮5_导出");
    }
    EXPECT_EQ(read(out), "previous\r\n");
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_TRUE(messages()[0].starts_with(export_failed())) << messages()[0];
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_))
        ++files;
    EXPECT_EQ(files, 1u);
}

// Imports read regular files only: a device or a pipe would fill the memory or block the window,
// a file over 1 GiB is no list. Each is refused with a message and adds nothing; an empty or
// missing file adds nothing without one.
TEST_F(ListFiles, ImportsRefuseWhatIsNoListFile) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const fs::path huge = dir_ / "huge.txt";
    std::ofstream(huge).close();
    fs::resize_file(huge, (std::uintmax_t{1} << 30) + 1);  // sparse: takes no room on the disk
    const Text not_regular = gbk("导入失败：所选的不是普通文件");
    const Text too_large = gbk("导入失败：文件大于 1 GiB");
    const struct {
        const char* name;
        fs::path file;
        std::vector<Text> messages;
    } cases[] = {
        {"endless device", "/dev/zero", {not_regular}},
        {"pipe", dir_ / "fifo", {not_regular}},
        {"directory", dir_, {not_regular}},
        {"over 1 GiB", huge, {too_large}},
        {"empty", write("empty.txt", ""), {}},
        {"missing", dir_ / "missing.txt", {}},
    };
    for (const char* button : {"按钮2_导入", "按钮6"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(button) + ", " + c.name);
            ops().clear_rows(kUrls);
            const size_t before = messages().size();
            answer(c.file);
            click(button);
            EXPECT_EQ(messages_since(before), c.messages);
            EXPECT_EQ(ops().row_count(kUrls), 0);
            EXPECT_EQ(ops().row_count(kNames), 0);
        }
    }
}

TEST_F(ListFiles, ExportToABareNameAddsTheDefaultExtension) {
    ops().append_rows(kBuyers, {{"1", "x"}});
    answer(dir_ / "ids");
    click("按钮5_导出");
    EXPECT_EQ(read(dir_ / "ids.txt"), "x\r\n");
    EXPECT_EQ(state().file_dialog.path(), dir_ / "ids.txt");
}

TEST_F(ListFiles, ImportWangwangNumbersEveryLineAndTakesTheFirstField) {
    using NameRows = std::vector<std::vector<Text>>;  // columns 0, 1, 2
    const struct {
        const char* name;
        std::string bytes;
        NameRows rows;
    } cases[] = {
        {"fields, empty line, plain name",
         "alice----123\r\n\r\nbob\r\n",
         {{"1", "alice", ""}, {"3", "bob", ""}}},
        {"separator first", "----abc\r\n", {{"1", "", ""}}},
        {"separator last", "abc----\r\n", {{"1", "abc", ""}}},
        {"several separators", "a----b----c\r\nd--e\r\n", {{"1", "a", ""}, {"2", "d--e", ""}}},
        {"LF only is one line", "a\nb----c\n", {{"1", "a\nb", ""}}},
        {"empty lines only", "\r\n\r\n", {}},
        {"stops at the first NUL",
         std::string("x\r\ny\0----z", 10),
         {{"1", "x", ""}, {"2", "y", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ops().clear_rows(kNames);
        ops().append_rows(kNames, {{"9", "old", "id"}});  // removed by every import
        answer(write("names.txt", c.bytes));
        click("按钮6");
        NameRows rows;
        for (int row = 0; row < ops().row_count(kNames); ++row)
            rows.push_back({ops().cell(kNames, row, 0), ops().cell(kNames, row, 1),
                            ops().cell(kNames, row, 2)});
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(seen_mode_, FileDialog::Mode::Open);
    }
}

TEST_F(ListFiles, ImportWangwangEmptiesTheListEvenWhenCancelled) {
    const fs::path file = write("names.txt", "alice\r\n");
    answer(file);
    click("按钮6");
    ASSERT_EQ(ops().row_count(kNames), 1);

    answer(std::nullopt);
    click("按钮6");
    EXPECT_EQ(ops().row_count(kNames), 0) << "an earlier dialog's file was imported again";

    ops().append_rows(kNames, {{"1", "x"}});
    answer(dir_ / "missing.txt");
    click("按钮6");
    EXPECT_EQ(ops().row_count(kNames), 0);
}

// The dialog keeps what the last operation set; the name import sets only the mode.
TEST_F(ListFiles, DialogPropertiesCarryOverBetweenOperations) {
    answer(std::nullopt);
    click("按钮6");
    EXPECT_EQ(seen_filter_, gbk("TXT文件|*.txt")) << "initial filter";
    EXPECT_EQ(seen_extension_, "");
    click("按钮5_导出");  // save mode, "txt", text-file and spreadsheet filter
    click("按钮6");
    EXPECT_EQ(seen_mode_, FileDialog::Mode::Open);
    EXPECT_EQ(seen_extension_, "txt");
    EXPECT_EQ(seen_filter_, gbk("文本文件(*.txt)|*.txt|CSV (*.csv)|*.csv|Excel (*.xlsx)|*.xlsx"));
    EXPECT_EQ(shown_, 3);
}

TEST(QtNameFilter, PairsBecomeQtFilters) {
    const struct {
        const char* filter;
        const char* qt;
    } cases[] = {
        {"TXT文件|*.txt", "TXT文件 (*.txt)"},
        {"文本文件(*.txt)|*.txt", "文本文件(*.txt)"},
        {"Text|*.txt|All|*.*", "Text (*.txt);;All (*.*)"},
        {"Lists|*.txt;*.csv", "Lists (*.txt *.csv)"},
        {"Only a name", "Only a name (*)"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qt_name_filter(gbk(c.filter)), c.qt) << c.filter;
}

}  // namespace

BOUND_WINDOW_TEST_MAIN()
