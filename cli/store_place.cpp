#include "cli/store_place.h"

#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "cli/run_support.h"
#include "runtime/program_paths.h"
#include "store/postgres_store.h"
#include "store/sqlite_store.h"

namespace fs = std::filesystem;

std::string store_location(const std::string& given) {
    if (postgres_address(given)) return given;
    return sqlite_store_file(given, data_directory()).string();
}

namespace {

std::unique_ptr<ResultsStore> open_postgres(const std::string& location,
                                            StoreOptions options = {}) {
    auto db = std::make_unique<PostgresStore>(location, 60, options);
    if (db->ok()) return db;
    report("cannot use the store: " + db->last_error());
    return nullptr;
}

}  // namespace

std::unique_ptr<ResultsStore> open_store_to_read(const std::string& given) {
    const std::string location = store_location(given);
    if (postgres_address(location)) return open_postgres(location);
    std::error_code error;
    if (!fs::is_regular_file(location, error)) {
        report("no results store at " + location);
        return nullptr;
    }
    // Opening sets a damaged store aside; a file that is no store at all is only refused here.
    std::ifstream file(location, std::ios::binary);
    char header[16] = {};
    file.read(header, sizeof header);
    if (std::string_view(header, sizeof header) != std::string_view("SQLite format 3\0", 16)) {
        report(location + " is no results store");
        return nullptr;
    }
    std::string why;
    auto db = SqliteStore::open(location, {}, &why);
    if (!db) report("cannot use the store " + location + ": " + why);
    return db;
}

std::unique_ptr<ResultsStore> open_store_to_write(const std::string& given, StoreOptions options) {
    const std::string location = store_location(given);
    if (postgres_address(location)) return open_postgres(location, options);
    std::error_code error;
    const fs::path folder = fs::path(location).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, error)) {
        report("folder of the store " + location + " does not exist");
        return nullptr;
    }
    std::string why;
    auto db = SqliteStore::open(location, options, &why);
    if (!db) {
        report("cannot use the store " + location + ": " + why);
        return nullptr;
    }
    if (!db->notice().empty()) report(db->notice());
    return db;
}
