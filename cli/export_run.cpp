#include "cli/export_run.h"

#include <cstdio>
#include <filesystem>

#include "cli/exit_codes.h"
#include "cli/run_support.h"
#include "cli/store_place.h"
#include "harvest/address_normalise.h"
#include "runtime/convert.h"
#include "store/exporters.h"

namespace {

enum class Format { text, csv, xlsx, jsonl };

Format format_of(const std::string& name, const std::string& out) {
    if (name == "txt") return Format::text;
    if (name == "csv") return Format::csv;
    if (name == "xlsx") return Format::xlsx;
    if (name == "jsonl") return Format::jsonl;
    const std::filesystem::path path(out);
    if (path.extension() == ".jsonl") return Format::jsonl;
    switch (export_format(path)) {
        case ExportFormat::csv:
            return Format::csv;
        case ExportFormat::xlsx:
            return Format::xlsx;
        default:
            return Format::text;
    }
}

ExportFormat list_format(Format format) {
    return format == Format::csv
               ? ExportFormat::csv
               : (format == Format::xlsx ? ExportFormat::xlsx : ExportFormat::text);
}

// What the window's export of the run's list holds, and every field of its rows.
struct RunTable {
    std::vector<Text> lines;
    std::vector<JsonField> fields;
    std::vector<std::vector<Text>> rows;
};

RunTable run_table(const StoredRows& stored) {
    RunTable table;
    if (!stored.buyers.empty()) {
        table.fields = {{"serial", true}, {"buyer_id", false}, {"item_id", false}};
        for (const BuyerRow& row : stored.buyers) {
            table.lines.push_back(row.buyer_id);
            table.rows.push_back({to_text(row.serial), row.buyer_id, row.item_id});
        }
        return table;
    }
    table.fields = {{"serial", true}, {"address", false}, {"item_id", false}, {"shop_id", false}};
    for (const ItemRow& row : stored.items) {
        Text address = normalise_address(row.address);
        // The window's export leaves an empty address out.
        if (!address.empty()) table.lines.push_back(address);
        table.rows.push_back({to_text(row.serial), std::move(address), row.item_id, row.shop_id});
    }
    return table;
}

bool write_stdout(const std::string& bytes) {
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
                    std::fflush(stdout) == 0;
    if (!ok) report("cannot write to standard output");
    return ok;
}

}  // namespace

int run_export(const std::string& store_address, long long run, const std::string& out,
               const std::string& format_name) {
    if (!output_place_ok(out)) return kExitBadInput;
    const Format format = format_of(format_name, out);
    if (out == "-" && format == Format::xlsx) {
        report("an .xlsx workbook cannot go to standard output; give --out FILE");
        return kExitBadInput;
    }
    const auto store = open_store_to_read(store_address);
    if (!store) return kExitBadInput;
    const StoredRows stored = store->rows(run);
    if (!store->last_error().empty()) {
        report("cannot read run " + std::to_string(run) + ": " + store->last_error());
        return kExitBadInput;
    }
    if (stored.buyers.empty() && stored.items.empty()) {
        report("run " + std::to_string(run) + " holds no rows (see runs)");
        return kExitBadInput;
    }
    const RunTable table = run_table(stored);
    if (out == "-") {
        if (format == Format::jsonl)
            return write_stdout(jsonl_export(table.fields, table.rows)) ? kExitDone : kExitBadInput;
        if (format == Format::csv) {
            std::vector<std::vector<Text>> cells;
            for (const Text& line : table.lines)
                cells.push_back({line});
            return write_stdout(csv_export(cells)) ? kExitDone : kExitBadInput;
        }
        return write_stdout(text_export(table.lines)) ? kExitDone : kExitBadInput;
    }
    std::string error;
    const bool written = format == Format::jsonl
                             ? export_jsonl(out, table.fields, table.rows, &error)
                             : export_lines(out, list_format(format), table.lines, &error);
    if (written) return kExitDone;
    report("cannot write " + out + (error.empty() ? "" : ": " + error));
    return kExitBadInput;
}
