#include "cli/export_run.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "cli/exit_codes.h"
#include "cli/run_support.h"
#include "cli/store_place.h"
#include "harvest/address_normalise.h"
#include "runtime/convert.h"
#include "store/exporters.h"
#include "store/sqlite_store.h"

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

const char* kind_name(RunKind kind) {
    switch (kind) {
        case RunKind::item_search:
            return "search";
        case RunKind::shop_items:
            return "shop";
        default:
            return "reviews";
    }
}

const char* ending_name(const RunInfo& run) {
    if (!run.ended_ms) return "not ended";
    switch (run.ending) {
        case RunEnding::finished:
            return "finished";
        case RunEnding::stopped:
            return "stopped";
        case RunEnding::restored:
            return "restored";
        case RunEnding::set_aside:
            return "set aside";
        default:
            return "not ended";
    }
}

// "2026-12-08 22:00:01" (UTC).
std::string utc_time(std::int64_t ms) {
    const std::chrono::sys_seconds time{std::chrono::seconds(ms / 1000)};
    const auto day = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss clock{time - day};
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long long>(clock.hours().count()),
                  static_cast<long long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
    return text;
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

std::string run_line(const RunCounts& c) {
    std::string parameters = c.run.parameters;
    for (char& ch : parameters)
        if (ch == '\n') ch = ' ';
    return "run " + std::to_string(c.run.id) + "  " + kind_name(c.run.kind) + "  " +
           utc_time(c.run.started_ms) + " UTC  " + ending_name(c.run) + "  urls " +
           std::to_string(c.urls) + "  items " + std::to_string(c.items) + "  buyers " +
           std::to_string(c.buyers) + (parameters.empty() ? "" : "  " + parameters) + "\n";
}

int run_list_stored_runs(const std::string& given) {
    const auto opened = open_store_to_read(given);
    auto* store = dynamic_cast<SqliteStore*>(opened.get());
    if (store == nullptr) return kExitBadInput;
    std::string listing;
    for (const RunCounts& c : store->run_counts())
        listing += run_line(c);
    if (!store->last_error().empty()) {
        report("cannot read the runs: " + store->last_error());
        return kExitBadInput;
    }
    return write_stdout(listing) ? kExitDone : kExitBadInput;
}
