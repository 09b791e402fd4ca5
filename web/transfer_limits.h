#pragma once
// What bounds every transfer: a connect time-out, an abort when nothing arrives for a while, a cap
// on the body size, the trusted certificate authorities, and the run's stop token. The HTTP routes
// run their transfers through perform_transfer so a Stop or a silent server never holds a worker.
#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>

struct TransferLimits {
    std::chrono::milliseconds connect_timeout{60000};
    std::chrono::milliseconds idle_timeout{60000};  // nothing received for this long: abort
    std::size_t max_body_bytes = std::size_t{64} << 20;
    std::string ca_file;  // PEM file of trusted authorities; empty = the system's own
};

// The process-wide limits every transfer starts from (set once, e.g. by a test or at startup).
TransferLimits transfer_limits();
void set_transfer_limits(TransferLimits limits);

// Sets the connect time-out, the trusted authorities, certificate checks and no signals (transfers
// run on worker threads). The idle time-out is perform_transfer's.
void apply_transfer_limits(CURL* easy, const TransferLimits& limits);

// Appends a received chunk to out, but never past cap bytes in total. Returns how many bytes of the
// chunk were taken, which is what a curl write callback returns: fewer than n ends the transfer
// and the prefix already in out is kept.
template <class Buffer>
std::size_t append_capped(Buffer& out, const char* data, std::size_t n, std::size_t cap) {
    std::size_t room = out.size() < cap ? cap - out.size() : 0;
    std::size_t take = n < room ? n : room;
    out.insert(out.end(), data, data + take);
    return take;
}

// Runs the easy handle's transfer to its end and returns its result. The transfer is aborted at
// once when stop is requested (CURLE_ABORTED_BY_CALLBACK) and when no byte has been sent or
// received for limits.idle_timeout (CURLE_OPERATION_TIMEDOUT), however slowly bytes came before.
// Installs its own progress callback on the handle. With kept_multi the transfer runs on that
// multi handle (the easy handle leaves it again at the end) instead of a new one.
CURLcode perform_transfer(CURL* easy, const TransferLimits& limits, std::stop_token stop,
                          CURLM* kept_multi = nullptr);
