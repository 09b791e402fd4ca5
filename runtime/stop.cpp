#include "runtime/stop.h"

namespace {
thread_local std::stop_token current_token;
}

void set_current_stop_token(std::stop_token token) { current_token = std::move(token); }

std::stop_token current_stop_token() { return current_token; }
