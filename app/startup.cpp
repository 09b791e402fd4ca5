#include "app/startup.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/message_dialog.h"
#include "runtime/files.h"
#include "runtime/services.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

struct Cleanup {
    std::mutex mutex;
    std::vector<std::function<void()>> steps;
    bool done = false;
};

Cleanup& cleanup() {
    static auto* instance = new Cleanup;  // outlives every exit path
    return *instance;
}

bool running_as_root() {
#ifdef _WIN32
    return false;
#else
    return geteuid() == 0;
#endif
}

}  // namespace

AppState& program_state() {
    static auto* state = new AppState;
    return *state;
}

void add_cleanup_step(std::function<void()> step) {
    Cleanup& c = cleanup();
    std::lock_guard lock(c.mutex);
    c.steps.push_back(std::move(step));
}

void GlobalCleanup() {
    Cleanup& c = cleanup();
    std::vector<std::function<void()>> steps;
    {
        std::lock_guard lock(c.mutex);
        if (c.done) return;
        c.done = true;
        steps.swap(c.steps);
    }
    // The program-wide texts are not freed here: a worker that is still running may read them until
    // the process is gone, and the end of the process releases the memory anyway.
    for (auto& step : steps)
        step();
}

void install_global_cleanup() {
    std::atexit(GlobalCleanup);
    std::at_quick_exit(GlobalCleanup);
}

std::filesystem::path output_file_path(const std::filesystem::path& directory) {
    return directory / std::filesystem::path(u8"淘宝买家.txt");
}

int open_output_file(const std::filesystem::path& directory) {
    constexpr int kCreateTruncate = 4, kDenyNone = 1;
    return file_open(output_file_path(directory), kCreateTruncate, kDenyNone);
}

void prepare_platform() {
#ifdef SIGXFSZ
    // Past the file-size limit a write then fails as a write, which the program reports, instead
    // of the signal ending the program mid-export.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (running_as_root() && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void register_window_services(MainWindow& window) {
    register_message_pump(
        [](int max_ms) { QCoreApplication::processEvents(QEventLoop::AllEvents, max_ms); });
    register_message_box(make_message_box_handler(window));
}

void end_on_close(MainWindow& window, std::function<void(int code)> exit) {
    if (!exit) exit = [](int code) { end_program(code); };
    window.set_close_handler([exit = std::move(exit)] { exit(0); });
}

void end_program(int code) {
    // Waits during the exit routine sleep instead of handling window messages: a message handled
    // there could start the ending a second time.
    register_message_pump({});
    // quick_exit runs GlobalCleanup but no static destructors, which could pull objects from under
    // workers that are still running; the output file needs no flushing (its writes are
    // unbuffered).
    std::quick_exit(code);
}
