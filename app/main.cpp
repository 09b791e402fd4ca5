// The process entry: program-wide values, the exit routine, the window, the message loop.
#include <QApplication>

#include "app/app_state.h"
#include "app/bindings.h"
#include "app/harvest_wiring.h"
#include "app/login_page.h"
#include "app/main_window.h"
#include "app/startup.h"
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
    window.show();
    end_program(app.exec());
}
