// Program paths on Linux and other POSIX systems.
#ifndef _WIN32
#include <cstdlib>

#include "runtime/program_paths.h"

std::filesystem::path program_directory() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return exe.parent_path();
}

std::filesystem::path user_data_directory() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute())
        return std::filesystem::path(xdg) / "zembra";
    const char* home = std::getenv("HOME");
    if (home && *home && std::filesystem::path(home).is_absolute())
        return std::filesystem::path(home) / ".local" / "share" / "zembra";
    return {};
}
#endif
