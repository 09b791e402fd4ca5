#include "app/bindings.h"

#include <QAbstractButton>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "app/app_state.h"
#include "app/feedback.h"
#include "app/list_files.h"
#include "app/main_window.h"
#include "app/page1_buttons.h"
#include "app/page3_run.h"
#include "app/window_operations.h"
#include "app/workers.h"
#include "harvest/controls.h"

namespace {

void on_click(MainWindow& main, std::string_view name, std::function<void()> action) {
    auto* button = main.control_as<QAbstractButton>(name);
    if (!button) return;
    // An import handles window events between its batches; a second click of the same button in
    // that time would open another dialog and mix two files' rows, so it is ignored.
    auto running = std::make_shared<bool>(false);
    QObject::connect(button, &QAbstractButton::clicked, &main,
                     [action = std::move(action), running] {
                         if (*running) return;
                         *running = true;
                         action();
                         *running = false;
                     });
}

}  // namespace

void bind_actions(MainWindow& main, AppState& state) {
    Window& window = main.operations();
    state.file_dialog.set_parent(&main);

    // The hooks are read at each click, so harvest code plugged in later takes effect.
    on_click(main, controls::kHarvestButton,
             [&window, &state] { harvest_button_clicked(window, state); });
    on_click(main, controls::kReviewButton,
             [&window, &state] { start_review_worker(window, state, state.hooks.review_harvest); });
    on_click(main, controls::kImportUrlsButton,
             [&window, &state] { ImportUrls(window, state.file_dialog); });
    on_click(main, controls::kExportBuyersButton,
             [&window, &state] { ExportBuyerIds(window, state.file_dialog); });
    on_click(main, controls::kClearUrlsButton,
             [&window, &state] { ClearUrls(window, state.values); });
    on_click(main, controls::kImportNamesButton,
             [&window, &state] { ImportWangwang(window, state.file_dialog); });
    on_click(main, controls::kExportUrlsButton,
             [&window, &state] { ExportItemUrls(window, state.file_dialog); });
    on_click(main, controls::kAddUrlsButton, [&window] { AddItemUrls(window); });
    on_click(main, controls::kExportCollectedButton,
             [&window, &state] { ExportCollectedBuyers(window, state.file_dialog); });
    install_page3_run(state);
    on_click(main, controls::kMemberIdButton, [&window, &state] {
        start_page3_run(window, state, state.hooks.page3_task, state.hooks.page3_time_limit_ms);
    });

    QObject* progress = main.control(controls::kProgressLabel);
    state.raise_feedback = make_feedback_raiser(
        progress ? progress : &main,
        [&window, &state](int code, int row) { handle_feedback(window, state, code, row); });
}
