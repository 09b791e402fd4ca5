#include "store/exporters.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>

#include "runtime/gbk.h"
#include "store/json_string.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr size_t kSheetRows = 1048576;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

bool all_digits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool write_bytes(const fs::path& path, std::string_view bytes, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out) return true;
    if (error != nullptr) *error = "无法写入 " + path.string();
    return false;
}

// A name beside the target that no file has yet, taken by creating it empty: the temporary file
// must never replace a file of the user's that happens to carry the name. Empty when none can be
// made.
fs::path take_part_name(const fs::path& path) {
    for (int i = 0; i < 100; ++i) {
        const fs::path part =
            path.string() + (i == 0 ? std::string(".part") : "." + std::to_string(i) + ".part");
#ifdef _WIN32
        std::FILE* file = _wfopen(part.c_str(), L"wx");
#else
        std::FILE* file = std::fopen(part.c_str(), "wx");
#endif
        if (file != nullptr) {
            std::fclose(file);
            return part;
        }
        if (errno != EEXIST) break;
    }
    return {};
}

}  // namespace

ExportFormat export_format(const fs::path& path) {
    const std::string extension = lower(path.extension().string());
    if (extension == ".csv") return ExportFormat::csv;
    if (extension == ".xlsx") return ExportFormat::xlsx;
    return ExportFormat::text;
}

std::string text_export(const std::vector<Text>& lines) {
    std::string content;
    for (const Text& line : lines) {
        content += line;
        content += "\r\n";
    }
    return content;
}

std::string csv_field(std::string_view gbk_cell) {
    std::string cell = gbk_to_utf8(gbk_cell);
    if (all_digits(cell)) return "=\"" + cell + "\"";
    if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos)
        cell.insert(cell.begin(), '\'');
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string csv_export(const std::vector<std::vector<Text>>& rows) {
    std::string content(kBom);
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0) content += ',';
            content += csv_field(row[i]);
        }
        content += "\r\n";
    }
    return content;
}

bool write_xlsx(const fs::path& path, const std::vector<std::vector<Text>>& rows,
                std::string* error) {
    lxw_workbook* book = workbook_new(path.c_str());
    if (book == nullptr) {
        if (error != nullptr) *error = "无法创建 " + path.string();
        return false;
    }
    lxw_format* text = workbook_add_format(book);
    format_set_num_format(text, "@");  // cells typed later stay text too
    lxw_error failure = LXW_NO_ERROR;
    lxw_worksheet* sheet = nullptr;
    for (size_t r = 0; r < rows.size() && failure == LXW_NO_ERROR; ++r) {
        if (r % kSheetRows == 0) {
            sheet = workbook_add_worksheet(book, nullptr);
            if (sheet == nullptr) break;
            worksheet_set_column(sheet, 0, 3, 24, text);
        }
        const auto row = static_cast<lxw_row_t>(r % kSheetRows);
        for (size_t c = 0; c < rows[r].size() && failure == LXW_NO_ERROR; ++c)
            failure = worksheet_write_string(sheet, row, static_cast<lxw_col_t>(c),
                                             gbk_to_utf8(rows[r][c]).c_str(), text);
    }
    if (rows.empty()) workbook_add_worksheet(book, nullptr);
    const lxw_error closed = workbook_close(book);
    if (failure == LXW_NO_ERROR) failure = closed;
    if (failure == LXW_NO_ERROR && (sheet != nullptr || rows.empty())) return true;
    if (error != nullptr) *error = "无法写入 " + path.string() + "：" + lxw_strerror(failure);
    return false;
}

namespace {

// The written part renamed over the target, or removed when it was not written whole.
bool finish_part(const fs::path& part, const fs::path& path, bool written, std::string* error) {
    std::error_code ec;
    if (written) {
        fs::rename(part, path, ec);
        if (!ec) return true;
        if (error != nullptr) *error = "无法写入 " + path.string() + "：" + ec.message();
    }
    fs::remove(part, ec);
    return false;
}

}  // namespace

bool export_lines(const fs::path& path, const std::vector<Text>& lines, std::string* error) {
    return export_lines(path, export_format(path), lines, error);
}

bool export_lines(const fs::path& path, ExportFormat format, const std::vector<Text>& lines,
                  std::string* error) {
    const fs::path part = take_part_name(path);
    if (part.empty()) {
        if (error != nullptr) *error = "无法写入 " + path.string();
        return false;
    }
    bool written = false;
    switch (format) {
        case ExportFormat::text:
            written = write_bytes(part, text_export(lines), error);
            break;
        case ExportFormat::csv: {
            std::vector<std::vector<Text>> rows;
            rows.reserve(lines.size());
            for (const Text& line : lines)
                rows.push_back({line});
            written = write_bytes(part, csv_export(rows), error);
            break;
        }
        case ExportFormat::xlsx: {
            std::vector<std::vector<Text>> rows;
            rows.reserve(lines.size());
            for (const Text& line : lines)
                rows.push_back({line});
            written = write_xlsx(part, rows, error);
            break;
        }
    }
    return finish_part(part, path, written, error);
}

std::string jsonl_export(const std::vector<JsonField>& fields,
                         const std::vector<std::vector<Text>>& rows) {
    std::string content;
    for (const auto& row : rows) {
        content += '{';
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) content += ',';
            json_string(content, fields[i].name);
            content += ':';
            const std::string cell = i < row.size() ? gbk_to_utf8(row[i]) : std::string();
            if (fields[i].number && all_digits(cell) && (cell.size() == 1 || cell[0] != '0'))
                content += cell;
            else
                json_string(content, cell);
        }
        content += "}\n";
    }
    return content;
}

bool export_jsonl(const fs::path& path, const std::vector<JsonField>& fields,
                  const std::vector<std::vector<Text>>& rows, std::string* error) {
    const fs::path part = take_part_name(path);
    if (part.empty()) {
        if (error != nullptr) *error = "无法写入 " + path.string();
        return false;
    }
    return finish_part(part, path, write_bytes(part, jsonl_export(fields, rows), error), error);
}
