#pragma once
// At start: rows of a harvest that never ended (a crash, a kill, a power cut) are offered back.
// The newest such item search, shop item harvest and review run each get a message box; yes puts
// the rows back into their lists (the shop entries after those 列表框_页面 holds, and for the
// review run the URL list, with the cursor on the first unfinished row so that the next start goes
// on there), no leaves them in the store only. Older unfinished runs stay in the store, set aside.
struct AppState;
class Window;

void offer_restore(Window& window, AppState& state);
