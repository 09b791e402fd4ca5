// The process entry: program-wide values, the exit routine, the window, the message loop.
#include <QApplication>
#include <QMetaObject>

#include "app/app_state.h"
#include "app/bindings.h"
#include "app/harvest_entries.h"
#include "app/login_page.h"
#include "app/main_window.h"
#include "app/results_restore.h"
#include "app/startup.h"
#include "app/window_operations.h"
#include "runtime/gbk.h"
#include "runtime/program_paths.h"
#include "runtime/services.h"
#include "store/results_recorder.h"
#include "web/cookies_file.h"
#include "web/program_settings.h"

int main(int argc, char** argv) {
    AppState& state = program_state();
    install_global_cleanup();
    // The pool goes last: stopped if it still runs, with the briefest wait.
    add_cleanup_step([&state] { state.pool.Destroy(1); });

    // zembra.toml and its environment variables: hosts and proxy; the defaults when it is bad.
    ProgramSettings settings;
    std::string settings_error;
    const bool settings_ok = load_program_settings(std::nullopt, settings, settings_error);
    if (settings_ok) {
        state.hosts = settings.hosts;
        use_proxy_setting(settings);
    }
    // The sign-in kept for the command line when the user asked for that (off by default).
    if (settings_ok && settings.save_login && !settings.login_file.empty())
        add_cleanup_step([path = settings.login_file] {
            std::string ignored;
            save_cookies_file(path, ignored);
        });
    prepare_platform();
    QApplication app(argc, argv);
    MainWindow window(state,
                      [&state](QWidget* parent) { return create_login_page(parent, state.hosts); });
    // Next to the program in a build folder; in the user's data folder once installed.
    const std::filesystem::path data = data_directory();
    state.OutputPath = output_file_path(data);
    state.values.ReportsFolder = state.OutputPath.parent_path() / "reports";
    state.OutputFile = open_output_file(data);
    register_window_services(window);
    if (!settings_ok) message_box(utf8_to_gbk(settings_error));
    end_on_close(window);
    const HarvestEntries harvests = program_harvests();
    bind_actions(window, state, harvests);
    // Store messages wait for the message loop, so no harvest thread waits for the user.
    const auto tell = [&app](const std::string& message) {
        QMetaObject::invokeMethod(
            &app, [text = utf8_to_gbk(message)] { message_box(text); }, Qt::QueuedConnection);
    };
    std::string store_notice;
    const std::filesystem::path store_file = results_file(
        settings_ok ? settings.store : std::string(), state.OutputPath.parent_path(), store_notice);
    if (!store_notice.empty()) tell(store_notice);
    StoreOptions store_options;
    store_options.keep_answers = settings_ok && settings.keep_answers;
    state.results = open_results(store_file, store_options, tell);
    window.show();
    offer_restore(window.operations(), state);
    end_program(app.exec());
}
