#include "runtime/stop.h"

namespace {
thread_local std::stop_token current_token;
}

void set_current_stop_token(std::stop_token token) {
    current_token = std::move(token);
}

std::stop_token current_stop_token() {
    return current_token;
}

int StopSignal::load() const {
    std::lock_guard lock(mutex_);
    return source_.stop_requested() ? 1 : 0;
}

void StopSignal::store(int value) {
    std::lock_guard lock(mutex_);
    if (value != 0)
        source_.request_stop();
    else if (source_.stop_requested())
        source_ = std::stop_source();
}

std::stop_source StopSignal::source() const {
    std::lock_guard lock(mutex_);
    return source_;
}
