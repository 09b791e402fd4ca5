#pragma once
// Start and end of the program: the program-wide values, the exit routine, the output file, the
// platform set-up that must precede the application object, and ending at once on close.
#include <filesystem>
#include <functional>

struct AppState;
class MainWindow;

// The program-wide values. Made on first use and never destroyed: workers may still read them
// while the process ends.
AppState& program_state();

// The exit routine; runs its steps once, in the order they were added, however the program ends.
void GlobalCleanup();
void add_cleanup_step(std::function<void()> step);
void install_global_cleanup();  // std::atexit and std::at_quick_exit

// "淘宝买家.txt" in the given directory; the program uses data_directory().
std::filesystem::path output_file_path(const std::filesystem::path& directory);
// Creates the file anew (an old one is truncated), shared with other processes, writes unbuffered.
// Returns the file number, 0 when it cannot be created.
int open_output_file(const std::filesystem::path& directory);

// Before the application object exists: Chromium's sandbox off when running as root (it refuses
// to start otherwise), never else; shared OpenGL contexts for the browser view; writes past the
// file-size limit fail instead of ending the program.
void prepare_platform();
// The window thread's message pump for wait_pumping and the real message box.
void register_window_services(MainWindow& window);
// Closing the window ends the program at once with code 0; running workers are not waited for.
// The exit function is a seam for tests.
void end_on_close(MainWindow& window, std::function<void(int code)> exit = {});
[[noreturn]] void end_program(int code);
