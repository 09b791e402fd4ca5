#pragma once
// The list files every front end reads: GBK without a byte-order mark, lines ended by CR LF,
// reading stops at the first NUL. One place for the rules, so the window and the command line
// import a file alike (writing them is store/exporters' text export).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/text.h"

// Larger lists than this are no list of ours, and would only fill the memory: imports refuse them.
inline constexpr std::uint64_t kMaxListFileBytes = std::uint64_t{1} << 30;

// The file's text: its bytes up to the first NUL, kept as read so a large file is not copied.
struct ListFileText {
    Bytes bytes;
    std::string_view text() const;
};

// Calls piece() for each element text_split(text, delimiter) gives, in order, without building
// them all at once.
void for_each_split_piece(std::string_view text, std::string_view delimiter,
                          const std::function<void(std::string_view piece)>& piece);

// Each line of a list file, as the imports split it (CR LF; empty lines kept; a non-empty rest
// after the last line end kept).
void for_each_list_line(std::string_view text,
                        const std::function<void(std::string_view line)>& line);

// The rows of a Wangwang list: per non-empty line its number (from 1, every line counted, the
// skipped empty ones too) and its first "----" field.
void for_each_name_line(std::string_view text,
                        const std::function<void(int number, const Text& name)>& row);

// The 1-based line of the first byte sequence that is no GBK character, or nullopt when the text
// is GBK throughout.
std::optional<std::size_t> first_invalid_gbk_line(std::string_view text);
