#pragma once
// Where a store setting ([store] location, --store) points: a postgresql:// address, or a SQLite
// file, a folder standing for its "zembra.db".
#include <filesystem>
#include <string>
#include <string_view>

bool postgres_address(std::string_view location);

// The SQLite file of a location that is no PostgreSQL address: none, "zembra.db" in
// `default_folder`; a folder, its "zembra.db"; otherwise the file named.
std::filesystem::path sqlite_store_file(const std::string& location,
                                        const std::filesystem::path& default_folder);
