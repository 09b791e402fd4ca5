#include "store/store_location.h"

#include <system_error>

#include "store/sqlite_store.h"

bool postgres_address(std::string_view location) {
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::filesystem::path sqlite_store_file(const std::string& location,
                                        const std::filesystem::path& default_folder) {
    if (location.empty()) return store_path(default_folder);
    std::error_code error;
    if (std::filesystem::is_directory(location, error)) return store_path(location);
    return location;
}
