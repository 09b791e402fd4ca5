#pragma once
// Where the program lives and where it keeps its files.
#include <filesystem>

// The folder that holds the running program; empty when the system cannot say.
std::filesystem::path program_directory();

// The user's data folder for this program: $XDG_DATA_HOME/zembra (~/.local/share/zembra when that
// is unset or not absolute); on Windows %APPDATA%\zembra. Empty when neither is known.
std::filesystem::path user_data_directory();

// The rule for where the program's output file, settings and store go: an installed program (it
// runs from the install prefix's bin folder, which it cannot write) uses the user's data folder;
// any other copy, such as one in a build folder, keeps them next to itself.
std::filesystem::path choose_data_directory(const std::filesystem::path& program_dir,
                                            const std::filesystem::path& installed_bin_dir,
                                            const std::filesystem::path& user_data_dir);

// choose_data_directory for the running program, created when missing.
std::filesystem::path data_directory();
