#include "app/bindings.h"

#include <QAbstractButton>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "app/app_state.h"
#include "app/feedback.h"
#include "app/harvest_entries.h"
#include "app/list_files.h"
#include "app/main_window.h"
#include "app/member_id_run.h"
#include "app/page1_buttons.h"
#include "app/window_operations.h"
#include "app/workers.h"
#include "harvest/controls.h"
#include "harvest/harvest_button.h"

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

void bind_actions(MainWindow& main, AppState& state, const HarvestEntries& entries) {
    Window& window = main.operations();
    state.file_dialog.set_parent(&main);

    // The harvest button checks its inputs and flips its caption; its worker runs the entry of the
    // chosen mode.
    HarvestWorkerControl harvest_workers;
    harvest_workers.start = [&window, &state, &entries](HarvestMode mode) {
        return start_harvest_worker(
            window, state,
            mode == HarvestMode::item_search ? entries.item_search : entries.shop_items);
    };
    harvest_workers.stop = [&state] { stop_harvest_worker(state); };
    on_click(main, controls::kHarvestButton, [&window, &state, harvest_workers] {
        harvest_button_click(window, state.values, harvest_workers);
    });
    on_click(main, controls::kReviewButton,
             [&window, &state, &entries] { start_review_worker(window, state, entries.review); });
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
    on_click(main, controls::kMemberIdButton, [&window, &state, &entries] {
        start_member_id_run(window, state, entries.member_id, entries.member_id_time_limit_ms);
    });

    QObject* progress = main.control(controls::kProgressLabel);
    state.raise_feedback = make_feedback_raiser(
        progress ? progress : &main,
        [&window, &state](int code, int row) { handle_feedback(window, state, code, row); });
}
