// Importing a large URL file into the real window (offscreen): time, the longest stretch the window
// could not handle events, and memory (peak resident set and the growth the rows cause).
//
//   bench_import [lines]     (default 1,000,000)
#include <sys/resource.h>

#include <unistd.h>
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/app_state.h"
#include "app/bindings.h"
#include "app/file_dialog.h"
#include "app/harvest_entries.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/tab_control.h"
#include "app/window_operations.h"

namespace {

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long current_rss_kb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1'000'000;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // Item addresses like the real ones, about 50 bytes a line.
    const auto path = std::filesystem::temp_directory_path() /
                      ("zembra_bench_urls_" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream out(path, std::ios::binary);
        for (long i = 0; i < lines; ++i)
            out << "https://item.taobao.com/item.htm?id=" << 600000000000 + i << "\r\n";
    }
    const auto file_bytes = std::filesystem::file_size(path);

    QApplication app(argc, argv);
    AppState state;
    MainWindow window(state);
    register_window_services(window);
    const HarvestEntries harvests = program_harvests();
    bind_actions(window, state, harvests);
    window.show();
    window.tabs()->set_current(2);  // the URL list is on screen and repaints
    QApplication::processEvents();
    state.file_dialog.set_answerer([&](const FileDialog&) { return path; });

    // A 10 ms tick measures how long the window went without handling events.
    QElapsedTimer since_tick;
    qint64 longest_gap = 0;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longest_gap = std::max(longest_gap, since_tick.restart()); });

    const long rss_before = current_rss_kb();
    auto* button = window.findChild<QAbstractButton*>(QString::fromUtf8("按钮2_导入"));
    tick.start();
    since_tick.start();
    const auto start = std::chrono::steady_clock::now();
    button->click();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    tick.stop();

    // The list view finishes laying out the new rows in the background; time until it has.
    auto* view = window.findChild<QAbstractScrollArea*>(QString::fromUtf8("超级列表框2_URL"));
    const auto settle_start = std::chrono::steady_clock::now();
    int last_max = -1;
    auto unchanged_since = settle_start;
    while (std::chrono::steady_clock::now() - unchanged_since < std::chrono::milliseconds(200) &&
           std::chrono::steady_clock::now() - settle_start < std::chrono::seconds(30)) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        const int max = view ? view->verticalScrollBar()->maximum() : 0;
        if (max != last_max) {
            last_max = max;
            unchanged_since = std::chrono::steady_clock::now();
        }
    }
    const double settle_seconds =
        std::chrono::duration<double>(unchanged_since - settle_start).count();
    const long rss_after = current_rss_kb();

    const int rows = window.operations().row_count("超级列表框2_URL");
    std::printf("lines in file           %ld (%.1f MB)\n", lines, file_bytes / 1e6);
    std::printf("rows in the list        %d\n", rows);
    std::printf("import                  %.3f s\n", seconds);
    std::printf("list laid out after     %.3f s more\n", settle_seconds);
    std::printf("longest event gap       %lld ms\n", static_cast<long long>(longest_gap));
    std::printf("resident before         %.1f MB\n", rss_before / 1024.0);
    std::printf("resident growth         %.1f MB (%.0f bytes a row)\n",
                (rss_after - rss_before) / 1024.0,
                rows ? (rss_after - rss_before) * 1024.0 / rows : 0.0);
    std::printf("peak resident (maxrss)  %.1f MB\n", peak_rss_kb() / 1024.0);
    std::filesystem::remove(path);
    return rows == lines ? 0 : 1;
}
