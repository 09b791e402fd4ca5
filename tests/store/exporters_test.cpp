// The export formats read back as a spreadsheet would read them: the text file byte for byte, CSV
// with its mark, neutralised formulas and IDs kept as text, .xlsx through its sheet XML.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <set>

#include "runtime/gbk.h"
#include "store/exporters.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::set<fs::path> files_in(const fs::path& folder) {
    std::set<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path());
    return names;
}

// One member of the zip archive, through the unzip tool.
std::string unzip_member(const fs::path& archive, const std::string& member) {
    const std::string command = "unzip -p '" + archive.string() + "' '" + member + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    pclose(pipe);
    return out;
}

// The text of every cell of the first sheet in order, shared strings resolved.
std::vector<std::string> xlsx_cells(const fs::path& archive) {
    const std::string shared = unzip_member(archive, "xl/sharedStrings.xml");
    std::vector<std::string> strings;
    for (size_t at = shared.find("<t"); at != std::string::npos; at = shared.find("<t", at)) {
        const size_t open_end = shared.find('>', at);
        if (shared[at + 2] != '>' && shared[at + 2] != ' ') {
            at = open_end;
            continue;
        }
        const size_t close = shared.find("</t>", open_end);
        strings.push_back(shared.substr(open_end + 1, close - open_end - 1));
        at = close;
    }
    const std::string sheet = unzip_member(archive, "xl/worksheets/sheet1.xml");
    std::vector<std::string> cells;
    for (size_t at = sheet.find("<c "); at != std::string::npos; at = sheet.find("<c ", at + 1)) {
        const size_t end = sheet.find("</c>", at);
        const std::string cell = sheet.substr(at, end - at);
        if (cell.find("t=\"s\"") == std::string::npos) {
            cells.push_back("<not text>");
            continue;
        }
        const size_t v = cell.find("<v>");
        const size_t index = std::stoul(cell.substr(v + 3));
        cells.push_back(index < strings.size() ? strings[index] : "<no string>");
    }
    return cells;
}

TEST(ExportFormat, FollowsTheExtensionInAnyCase) {
    const std::pair<const char*, ExportFormat> cases[] = {
        {"a.txt", ExportFormat::text},  {"a", ExportFormat::text},
        {"a.CSV", ExportFormat::csv},   {"dir.csv/a.txt", ExportFormat::text},
        {"a.xlsx", ExportFormat::xlsx}, {"a.XlSx", ExportFormat::xlsx},
        {"a.xls", ExportFormat::text},  {"a.csv.bak", ExportFormat::text},
    };
    for (const auto& [path, format] : cases)
        EXPECT_EQ(export_format(path), format) << path;
}

TEST(CsvField, NeutralisesFormulasKeepsIdsTextAndQuotes) {
    const std::pair<std::string, std::string> cases[] = {
        {"=1+2", "'=1+2"},
        {"+33", "'+33"},
        {"-cmd|' /C calc'!A0", "'-cmd|' /C calc'!A0"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"123456789012345678", "=\"123456789012345678\""},
        {"007", "=\"007\""},
        {"12a", "12a"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"=a,b", "\"'=a,b\""},
        {"line\r\nnext", "\"line\r\nnext\""},
        {"", ""},
        {utf8_to_gbk("买家"), "买家"},
    };
    for (const auto& [cell, field] : cases)
        EXPECT_EQ(csv_field(cell), field) << cell;
}

// Each cell under its name; text escaped as JSON wants, numbers bare only when they are numbers.
TEST(JsonLines, EscapeTextAndWriteOnlyRealNumbersBare) {
    const std::vector<JsonField> fields{{"n", true}, {"t", false}};
    const std::pair<std::vector<Text>, std::string> cases[] = {
        {{"12", "a"}, R"({"n":12,"t":"a"})"},
        {{"0", "123456789012345678"}, R"({"n":0,"t":"123456789012345678"})"},
        {{"007", ""}, R"({"n":"007","t":""})"},
        {{"", "x"}, R"({"n":"","t":"x"})"},
        {{"1e3", "say \"hi\" \\ there"}, R"({"n":"1e3","t":"say \"hi\" \\ there"})"},
        {{"1", "tab\tline\r\n\x01"}, R"({"n":1,"t":"tab\u0009line\u000d\u000a\u0001"})"},
        {{"2", utf8_to_gbk("买家")}, R"({"n":2,"t":"买家"})"},
        {{"3"}, R"({"n":3,"t":""})"},  // a row short of cells
    };
    for (const auto& [row, line] : cases)
        EXPECT_EQ(jsonl_export(fields, {row}), line + "\n") << row[0];
    EXPECT_EQ(jsonl_export(fields, {}), "");
}

TEST(Exports, EachFormatReadsBackAsWritten) {
    TempFolder folder{"zembra-export"};
    const std::vector<Text> lines = {"123456789012345678", "=HYPERLINK(\"http://x\")",
                                     utf8_to_gbk("淘宝买家"), "plain"};

    ASSERT_TRUE(export_lines(folder / "ids.txt", lines, nullptr));
    EXPECT_EQ(file_bytes(folder / "ids.txt"), "123456789012345678\r\n=HYPERLINK(\"http://x\")\r\n" +
                                                  utf8_to_gbk("淘宝买家") + "\r\nplain\r\n");

    ASSERT_TRUE(export_lines(folder / "ids.csv", lines, nullptr));
    EXPECT_EQ(file_bytes(folder / "ids.csv"),
              "\xEF\xBB\xBF=\"123456789012345678\"\r\n\"'=HYPERLINK(\"\"http://x\"\")\"\r\n"
              "淘宝买家\r\nplain\r\n");

    std::string error;
    ASSERT_TRUE(export_lines(folder / "ids.xlsx", lines, &error)) << error;
    const std::vector<std::string> cells = {"123456789012345678", "=HYPERLINK(\"http://x\")",
                                            "淘宝买家", "plain"};
    EXPECT_EQ(xlsx_cells(folder / "ids.xlsx"), cells);
    EXPECT_EQ(unzip_member(folder / "ids.xlsx", "xl/worksheets/sheet1.xml").find("<f>"),
              std::string::npos)
        << "no formula cells";

    for (const auto& entry : fs::directory_iterator(folder.path()))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

TEST(Exports, AFailedWriteLeavesTheOldFileAndNoPart) {
    TempFolder folder{"zembra-export-fail"};
    const std::vector<Text> many(2000, "123456789012345678");
    for (const char* name : {"old.txt", "old.csv", "old.xlsx"}) {
        SCOPED_TRACE(name);
        const fs::path target = folder / name;
        std::ofstream(target) << "old";
        const std::set<fs::path> before = files_in(folder.path());
        std::string error;
        {
            // Far less than the export needs: the write fails part way.
            const ScopedFileSizeLimit limit(1024);
            EXPECT_FALSE(export_lines(target, many, &error));
        }
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(file_bytes(target), "old");
        EXPECT_EQ(files_in(folder.path()), before) << "no temporary file left behind";
    }
}

TEST(Exports, AUsersFileNamedLikeTheTemporaryOneIsKept) {
    TempFolder folder{"zembra-export-part"};
    for (const char* name : {"ids.txt", "ids.csv", "ids.xlsx"}) {
        SCOPED_TRACE(name);
        const fs::path target = folder / name;
        std::ofstream(target.string() + ".part") << "mine";
        std::ofstream(target.string() + ".1.part") << "mine too";
        const std::set<fs::path> before = files_in(folder.path());
        std::string error;
        ASSERT_TRUE(export_lines(target, {"new"}, &error)) << error;
        EXPECT_EQ(file_bytes(target.string() + ".part"), "mine");
        EXPECT_EQ(file_bytes(target.string() + ".1.part"), "mine too");
        std::set<fs::path> after = files_in(folder.path());
        after.erase(target);
        EXPECT_EQ(after, before);
    }
}

}  // namespace
