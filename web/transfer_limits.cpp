#include "web/transfer_limits.h"

#include <algorithm>
#include <mutex>

#include "web/curl_global.h"

namespace {

std::mutex limits_mutex;
TransferLimits& process_limits() {
    static TransferLimits limits;
    return limits;
}

using Clock = std::chrono::steady_clock;

// When a byte last moved: body and header bytes received, body bytes sent. A trickle of one byte
// every few seconds is alive; only silence for the whole idle time ends the transfer.
struct Activity {
    CURL* easy = nullptr;
    curl_off_t seen = -1;
    Clock::time_point last = Clock::now();
};

int on_progress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                curl_off_t ulnow) {
    (void)dltotal;
    (void)ultotal;
    auto* activity = static_cast<Activity*>(user);
    long header_bytes = 0;
    curl_easy_getinfo(activity->easy, CURLINFO_HEADER_SIZE, &header_bytes);
    const curl_off_t moved = dlnow + ulnow + header_bytes;
    if (moved != activity->seen) {
        activity->seen = moved;
        activity->last = Clock::now();
    }
    return 0;
}

}  // namespace

TransferLimits transfer_limits() {
    std::lock_guard lock(limits_mutex);
    return process_limits();
}

void set_transfer_limits(TransferLimits limits) {
    std::lock_guard lock(limits_mutex);
    process_limits() = std::move(limits);
}

void apply_transfer_limits(CURL* easy, const TransferLimits& limits) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A Stop or a time-out during a hung name lookup must not wait for the resolver thread.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max<long long>(1, limits.connect_timeout.count())));
    // No low-speed rule: it averages, and so cuts a slow but live server. perform_transfer ends
    // a transfer only after limits.idle_timeout without a byte.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!limits.ca_file.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, limits.ca_file.c_str());
}

CURLcode perform_transfer(CURL* easy, const TransferLimits& limits, std::stop_token stop,
                          CURLM* kept_multi) {
    if (!easy || !curl_ready()) return CURLE_FAILED_INIT;
    if (stop.stop_requested()) return CURLE_ABORTED_BY_CALLBACK;
    CurlMulti own_multi(kept_multi ? nullptr : curl_multi_init());
    CURLM* const raw_multi = kept_multi ? kept_multi : own_multi.get();
    if (!raw_multi) return CURLE_OUT_OF_MEMORY;

    Activity activity;
    activity.easy = easy;
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &activity);
    if (curl_multi_add_handle(raw_multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;

    // A Stop wakes the wait below at once instead of at its next time-out.
    std::stop_callback wake(stop, [raw_multi] { curl_multi_wakeup(raw_multi); });

    CURLcode result = CURLE_OK;
    bool done = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(raw_multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(raw_multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done) break;
        if (stop.stop_requested()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        auto quiet = Clock::now() - activity.last;
        if (quiet >= limits.idle_timeout) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(limits.idle_timeout - quiet);
        int wait_ms = static_cast<int>(std::clamp<long long>(left.count() + 1, 1, 1000));
        curl_multi_poll(raw_multi, nullptr, 0, wait_ms, nullptr);
    }
    curl_multi_remove_handle(raw_multi, easy);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, nullptr);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
    return result;
}
