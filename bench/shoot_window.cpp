// Takes a picture of each of the window's four pages, the real window as the program builds it
// (login browser included). Needs a display; headless: xvfb-run -a shoot_window <dir>.
//
//   shoot_window [directory] [seconds for the browser page]   (defaults: docs, 8)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "app/app_state.h"
#include "app/bindings.h"
#include "app/harvest_entries.h"
#include "app/login_page.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/tab_control.h"

namespace {

void pump_for(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
    const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    const int browser_seconds = argc > 2 ? std::atoi(argv[2]) : 8;

    AppState& state = program_state();
    prepare_platform();
    QApplication app(argc, argv);
    MainWindow window(state,
                      [&state](QWidget* parent) { return create_login_page(parent, state.hosts); });
    const HarvestEntries harvests = program_harvests();
    bind_actions(window, state, harvests);
    window.show();
    QDir().mkpath(directory);

    for (int page = 0; page < window.tabs()->count(); ++page) {
        window.tabs()->set_current(page);
        pump_for(page == 0 ? browser_seconds * 1000 : 300);
        const QString file =
            QDir(directory).filePath(QStringLiteral("window_page%1.png").arg(page));
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
        std::printf("%s\n", file.toLocal8Bit().constData());
    }
    std::fflush(stdout);
    end_program(0);
}
