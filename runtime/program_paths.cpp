#include "runtime/program_paths.h"

#include <system_error>

#ifndef ZEMBRA_INSTALLED_BINDIR
#define ZEMBRA_INSTALLED_BINDIR ""
#endif

std::filesystem::path choose_data_directory(const std::filesystem::path& program_dir,
                                            const std::filesystem::path& installed_bin_dir,
                                            const std::filesystem::path& user_data_dir) {
    if (program_dir.empty() || installed_bin_dir.empty() || user_data_dir.empty())
        return program_dir;
    std::error_code error;
    // The same folder, however it is spelled (links, trailing separators).
    if (std::filesystem::equivalent(program_dir, installed_bin_dir, error) && !error)
        return user_data_dir;
    return program_dir;
}

std::filesystem::path data_directory() {
    const std::filesystem::path dir = choose_data_directory(
        program_directory(), std::filesystem::path(ZEMBRA_INSTALLED_BINDIR), user_data_directory());
    std::error_code error;
    if (!dir.empty()) std::filesystem::create_directories(dir, error);
    return dir;
}
