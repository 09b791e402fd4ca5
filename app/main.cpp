// The process entry: program-wide values, the exit routine, the window, the message loop.
#include <QApplication>
#include <QMetaObject>

#include "app/app_state.h"
#include "app/bindings.h"
#include "app/harvest_wiring.h"
#include "app/login_page.h"
#include "app/main_window.h"
#include "app/results_recorder.h"
#include "app/results_restore.h"
#include "app/window_operations.h"
#include "app/startup.h"
#include "runtime/gbk.h"
#include "runtime/services.h"

int main(int argc, char** argv) {
    AppState& state = program_state();
    install_global_cleanup();
    // The pool goes last: stopped if it still runs, with the briefest wait.
    add_cleanup_step([&state] { state.pool.Destroy(1); });

    prepare_platform();
    QApplication app(argc, argv);
    MainWindow window(state,
                      [&state](QWidget* parent) { return create_login_page(parent, state.hosts); });
    state.OutputPath = output_file_path(program_directory());
    state.OutputFile = open_output_file(program_directory());
    register_window_services(window);
    end_on_close(window);
    plug_harvests(state);
    bind_actions(window, state);
    // Store messages wait for the message loop, so no harvest thread waits for the user.
    state.results = open_results(state.OutputPath.parent_path(), store_options_from_environment(),
                                 [&app](const std::string& message) {
                                     QMetaObject::invokeMethod(
                                         &app, [text = utf8_to_gbk(message)] { message_box(text); },
                                         Qt::QueuedConnection);
                                 });
    window.show();
    offer_restore(window.operations(), state);
    end_program(app.exec());
}
