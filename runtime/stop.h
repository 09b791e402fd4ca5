#pragma once
// Each harvest run carries a stop token. A worker installs its run's token on its own thread; the
// network layer aborts transfers and the window drops control operations once it is set.
#include <stop_token>

void set_current_stop_token(std::stop_token token);
std::stop_token current_stop_token();
inline bool current_run_stopped() { return current_stop_token().stop_requested(); }
