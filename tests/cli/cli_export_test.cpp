// zembra-cli export: a stored run written in each format from the window's SQLite store.
#include "runtime/gbk.h"
#include "store/exporters.h"
#include "store/sqlite_store.h"
#include "tests/cli/cli_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kLongId = "2200000000000012345";

class CliExport : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        std::string error;
        auto store = SqliteStore::open(store_path(dir), {}, &error);
        ASSERT_TRUE(store) << error;
        // Run 1: reviews, over two answer pages.
        ASSERT_EQ(store->begin_run(RunKind::reviews, ""), 1);
        AnswerPage page;
        page.run = 1;
        page.source = {"market-reviews", "http://rate.taobao.test/feedRateList.htm?p=1", 1, 0};
        page.buyers = {{1, kLongId, "501"}, {2, utf8_to_gbk("买家\"甲"), "501"}};
        ASSERT_TRUE(store->write_page(page));
        page.source.page = 2;
        page.buyers = {{3, "007", utf8_to_gbk("5\\02")}};
        ASSERT_TRUE(store->write_page(page));
        // Run 2: an item search, one address without its scheme and one empty.
        ASSERT_EQ(store->begin_run(RunKind::item_search, "keyword=x"), 2);
        AnswerPage items;
        items.run = 2;
        items.source = {"search", "http://s.taobao.test/search?q=x", 1, 0};
        items.items = {{1, "//detail.tmall.test/item.htm?id=1", "1", "11"},
                       {2, "", "2", "12"},
                       {3, "http://item.taobao.test/item.htm?id=3", "3", "13"}};
        ASSERT_TRUE(store->write_page(items));
        // A run that never got a row, nor an end.
        ASSERT_EQ(store->begin_run(RunKind::reviews, ""), 3);
        ASSERT_TRUE(store->put_urls(3, 0, {"http://a/item.htm?id=1", "http://a/item.htm?id=2"}));
        ASSERT_TRUE(store->end_run(1, RunEnding::finished));
        ASSERT_TRUE(store->end_run(2, RunEnding::stopped));
    }
    ChildResult export_run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"--store", dir.string(), "export"};
        all.insert(all.end(), args.begin(), args.end());
        return cli(all);
    }
};

TEST_F(CliExport, EachFormatHoldsTheRunAsTheWindowWouldExportIt) {
    const std::vector<Text> ids{kLongId, utf8_to_gbk("买家\"甲"), "007"};
    std::vector<std::vector<Text>> id_cells;
    for (const Text& id : ids)
        id_cells.push_back({id});
    const std::string buyers_jsonl =
        "{\"serial\":1,\"buyer_id\":\"" + kLongId +
        "\",\"item_id\":\"501\"}\n"
        "{\"serial\":2,\"buyer_id\":\"买家\\\"甲\",\"item_id\":\"501\"}\n"
        "{\"serial\":3,\"buyer_id\":\"007\",\"item_id\":\"5\\\\02\"}\n";
    const struct {
        const char* name;
        std::string run, format, out;
        std::string expected;
    } cases[] = {
        {"text by extension", "1", "", "a.txt", text_export(ids)},
        {"text by flag", "1", "txt", "a.csv", text_export(ids)},
        {"csv by extension", "1", "", "a.csv", csv_export(id_cells)},
        {"csv by flag", "1", "csv", "a.txt", csv_export(id_cells)},
        {"jsonl by flag", "1", "jsonl", "a.json", buyers_jsonl},
        {"jsonl by extension", "1", "", "a.jsonl", buyers_jsonl},
        {"items: schemes given, empty left out", "2", "", "b.txt",
         "http://detail.tmall.test/item.htm?id=1\r\nhttp://item.taobao.test/item.htm?id=3\r\n"},
        {"items as jsonl", "2", "jsonl", "b.txt",
         "{\"serial\":1,\"address\":\"http://detail.tmall.test/item.htm?id=1\",\"item_id\":\"1\","
         "\"shop_id\":\"11\"}\n"
         "{\"serial\":2,\"address\":\"\",\"item_id\":\"2\",\"shop_id\":\"12\"}\n"
         "{\"serial\":3,\"address\":\"http://item.taobao.test/item.htm?id=3\",\"item_id\":\"3\","
         "\"shop_id\":\"13\"}\n"},
        {"to standard output", "1", "jsonl", "-", buyers_jsonl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"--run", c.run, "--out",
                                      c.out == "-" ? c.out : (dir / c.out).string()};
        if (!c.format.empty()) args.insert(args.end(), {"--format", c.format});
        const ChildResult r = export_run(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(c.out == "-" ? r.out : read_bytes(dir / c.out), c.expected);
        fs::remove(dir / c.out);
    }
    // A workbook: a zip archive whose shared strings hold the IDs as text.
    const ChildResult book = export_run({"--run", "1", "--out", (dir / "a.xlsx").string()});
    ASSERT_EQ(book.exit_code, 0) << book.err;
    EXPECT_TRUE(read_bytes(dir / "a.xlsx").starts_with("PK\x03\x04"));
}

TEST_F(CliExport, NothingToExportIsBadInputAndWritesNothing) {
    write_bytes(dir / "notes.txt", "not a store\r\n");
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"no such run", {"--store", dir.string(), "export", "--run", "99"}, "run 99 holds no rows"},
        {"a run without rows", {"--store", dir.string(), "export", "--run", "3"}, "holds no rows"},
        {"no store there",
         {"--store", (dir / "none.db").string(), "export", "--run", "1"},
         "no results store at"},
        {"a file that is no store",
         {"--store", (dir / "notes.txt").string(), "export", "--run", "1"},
         "is no results store"},
        {"unknown format",
         {"--store", dir.string(), "export", "--run", "1", "--format", "pdf"},
         "pdf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--out", (dir / "x.txt").string()});
        const ChildResult r = cli(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "x.txt"));
    }
    // A workbook needs a file.
    const ChildResult r =
        cli({"--store", dir.string(), "export", "--run", "1", "--format", "xlsx", "--out", "-"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.empty());
    // The file that was no store is left as it was, not set aside as a damaged one.
    EXPECT_EQ(read_bytes(dir / "notes.txt"), "not a store\r\n");
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find("corrupt"), std::string::npos);
}

TEST_F(CliExport, RunsListsEveryRunWithItsCounts) {
    const ChildResult r = cli({"--store", dir.string(), "runs"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = r.out.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(r.out.substr(start, end - start));
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const struct {
        const char* head;
        const char* tail;
    } want[] = {
        {"run 1  reviews  20", " UTC  finished  urls 0  items 0  buyers 3"},
        {"run 2  search  20", " UTC  stopped  urls 0  items 3  buyers 0  keyword=x"},
        {"run 3  reviews  20", " UTC  not ended  urls 2  items 0  buyers 0"},
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].starts_with(want[i].head)) << lines[i];
        EXPECT_TRUE(lines[i].ends_with(want[i].tail)) << lines[i];
    }
}

}  // namespace
