#pragma once
// The list files every front end reads and writes: GBK without a byte-order mark, lines ended by
// CR LF, reading stops at the first NUL. One place for the format, so a file written by the window
// and one written from the command line are the same bytes.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/text.h"

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

// The lines, each followed by CR LF.
Bytes list_file_bytes(const std::vector<Text>& lines);

// Writes the lines to a file beside the target and renames it over the target, so the target
// is either the old file or the whole new one, never a part. False when nothing was written.
bool write_list_file(const std::filesystem::path& path, const std::vector<Text>& lines);

// The 1-based line of the first byte sequence that is no GBK character, or nullopt when the text
// is GBK throughout.
std::optional<std::size_t> first_invalid_gbk_line(std::string_view text);
