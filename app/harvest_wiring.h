#pragma once
// Plugs the harvest code into the window's hooks: the click of 按钮_采集 (input checks, search
// parameters, captions, start and stop of its worker), the item search and shop item harvests that
// worker runs, and the review worker of 按钮3_批量获取. Hooks already set are left as they are.
struct AppState;

void plug_harvests(AppState& state);
