#pragma once
// Connects the window's buttons and events to their operations (harvest start/stop, review workers,
// list import and export, the page-3 run).
class MainWindow;
struct AppState;
struct HarvestEntries;

// The entries must outlive the window.
void bind_actions(MainWindow& window, AppState& state, const HarvestEntries& entries);
