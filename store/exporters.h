#pragma once
// The export formats of the window's lists: the text file (GBK, CR LF after every line, byte for
// byte as it always was), CSV in UTF-8 with a byte-order mark for spreadsheets, and Excel's .xlsx.
// Spreadsheet cells are text throughout, so an 18-digit ID never turns into 1.23E+17, and a cell
// that would start a formula (= + - @) is neutralised.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

enum class ExportFormat { text, csv, xlsx };

// By the path's extension, any case: ".csv", ".xlsx", else the text file.
ExportFormat export_format(const std::filesystem::path& path);

// Every line followed by CR LF, bytes as given (GBK).
std::string text_export(const std::vector<Text>& lines);
// One CSV field from a GBK cell: UTF-8, a leading ' before = + - @ TAB CR, a digits-only cell as
// ="digits" (text to a spreadsheet), quoted when it holds a comma, a quote or a line break.
std::string csv_field(std::string_view gbk_cell);
// Rows of GBK cells as CSV: the byte-order mark, fields joined by commas, CR LF after each row.
std::string csv_export(const std::vector<std::vector<Text>>& rows);
// Rows of GBK cells as text cells of an .xlsx workbook (a further sheet every 1,048,576 rows).
// False with the reason in `error` when it cannot be written.
bool write_xlsx(const std::filesystem::path& path, const std::vector<std::vector<Text>>& rows,
                std::string* error);

// The lines, one cell each, in the format the path names. The file appears whole or not at all:
// it is written beside the target, under a name no file had, and renamed over it. False with the
// reason (UTF-8) in `error`.
bool export_lines(const std::filesystem::path& path, const std::vector<Text>& lines,
                  std::string* error);
// The same in the given format, whatever the extension.
bool export_lines(const std::filesystem::path& path, ExportFormat format,
                  const std::vector<Text>& lines, std::string* error);

// A field of a JSON-lines export: its name, and whether its cells are numbers rather than text.
struct JsonField {
    std::string name;
    bool number = false;
};
// One JSON object per row, UTF-8, LF after each: every cell (GBK) under its field's name; a
// number cell that holds no number is written as text.
std::string jsonl_export(const std::vector<JsonField>& fields,
                         const std::vector<std::vector<Text>>& rows);
// The rows as JSON lines, whole or not at all like export_lines.
bool export_jsonl(const std::filesystem::path& path, const std::vector<JsonField>& fields,
                  const std::vector<std::vector<Text>>& rows, std::string* error);
