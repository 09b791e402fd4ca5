#include "runtime/list_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/text.h"

namespace {

TEST(SplitPieces, MatchesTextSplit) {
    const struct {
        std::string text;
        std::string delimiter;
    } cases[] = {
        {"a\r\nb\r\n", "\r\n"},
        {"a\r\n\r\nb", "\r\n"},
        {"", "\r\n"},
        {"\r\n", "\r\n"},
        {"\r\n\r\n", "\r\n"},
        {"abc", "\r\n"},
        {"a,,b", ","},
        {",a", ","},
        {"a,b,", ","},
        {"abc", ""},
        {"\xC4\r\nq", "\r\n"},
        {"q\xC4", "\r\n"},
        {"\xC4", "----"},
        {"a----b----", "----"},
        {"a---b", "----"},
        {"\xB0-----x", "----"},
        {"\x81\x81\r\n", "\r\n"},
        {"a\r", "\r\n"},
    };
    for (const auto& c : cases) {
        std::vector<Text> pieces;
        for_each_split_piece(c.text, c.delimiter,
                             [&](std::string_view piece) { pieces.emplace_back(piece); });
        EXPECT_EQ(pieces, text_split(c.text, c.delimiter))
            << "text of " << c.text.size() << " bytes, delimiter '" << c.delimiter << "'";
    }
}

TEST(ListFile, TextStopsAtTheFirstNul) {
    const std::string raw("a\r\nb\0c", 6);
    const ListFileText file{Bytes(raw.begin(), raw.end())};
    EXPECT_EQ(file.text(), "a\r\nb");
}

TEST(ListFile, NameLinesCountEveryLineAndTakeTheFirstField) {
    std::vector<std::pair<int, Text>> rows;
    for_each_name_line("alice----123\r\n\r\nbob\r\n----abc\r\nabc----\r\n",
                       [&](int n, const Text& name) { rows.emplace_back(n, name); });
    EXPECT_EQ(rows,
              (std::vector<std::pair<int, Text>>{{1, "alice"}, {3, "bob"}, {4, ""}, {5, "abc"}}));
}

TEST(ListFile, FirstInvalidGbkLine) {
    const struct {
        std::string text;
        std::optional<std::size_t> line;
    } cases[] = {
        {"", std::nullopt},
        {"plain ascii\r\nline two", std::nullopt},
        {"\xC4\xE3\xBA\xC3\r\n\x81\x40\r\n\xFE\xFE", std::nullopt},
        {"\x80 euro", std::nullopt},
        {"ok\r\n\xFF", 2},
        {"ok\r\nok\r\n\xC4", 3},
        {"\xC4\x7F", 1},
        {"\xC4\r\n", 1},
        {"a\r\n\xC4\x30", 2},
        {"\xC4\xE3\xC4", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(first_invalid_gbk_line(c.text), c.line) << c.text;
}

}  // namespace
