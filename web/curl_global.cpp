#include "web/curl_global.h"

#include <array>
#include <mutex>

namespace {

struct SharedStore {
    CURLSH* share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void lock_data(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<SharedStore*>(user)->locks.at(data).lock();
}

void unlock_data(CURL*, curl_lock_data data, void* user) {
    static_cast<SharedStore*>(user)->locks.at(data).unlock();
}

// Built once and never torn down: workers are not joined when the window closes, so a transfer may
// still hold the share while the process ends; freeing it then would race with that transfer.
SharedStore* store() {
    static SharedStore* const instance = [] {
        auto* s = new SharedStore;
        if (!curl_ready()) return s;
        CURLSH* share = curl_share_init();
        if (!share) return s;
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock_data);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock_data);
        curl_share_setopt(share, CURLSHOPT_USERDATA, s);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        s->share = share;
        return s;
    }();
    return instance;
}

}  // namespace

bool curl_ready() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

CURLSH* shared_curl_store() {
    return store()->share;
}

CurlEasy make_curl_easy() {
    return CurlEasy(curl_ready() ? curl_easy_init() : nullptr);
}
