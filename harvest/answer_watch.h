#pragma once
// How a run asks for a page again until it comes. Each answer without its marker is classified:
// a few of any kind get the waits the services expect (1 s; the marketplace review service's
// throttle answer 6 minutes first). Ten block answers in a row from one service pause the asking
// and hand the check to the user on the login page until a probe succeeds (every 30 s, and at once
// when the browser's cookies change); ten unrecognised answers in a row are saved and reported;
// and no address is asked more than 60 times in a row without success. One watch per run, shared
// by its threads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "harvest/answer_kind.h"
#include "harvest/harvest_context.h"

class HttpRequestObject;

inline constexpr int kRetryWaitMs = 1000;
inline constexpr int kThrottleWaitMs = 360000;
inline constexpr int kBlockProbeMs = 30000;
inline constexpr int kBlocksBeforePause = 10;
inline constexpr int kUnrecognisedBeforeReport = 10;
inline constexpr int kMostAsksInARow = 60;

// How one loop asks one service.
struct AskRules {
    std::string service;          // host and path, as the user is told
    std::string marker;           // what a page of this service holds
    bool throttle_pause = false;  // the 6-minute pause on the throttle answer
    bool restore_title = false;   // "正常运行..." once a page comes after a pause
};

// The service an address belongs to: its host and path.
std::string service_of(std::string_view url);

class AnswerWatch {
public:
    explicit AnswerWatch(HarvestContext& ctx) : ctx_(ctx) {}
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;

    // The run was ended by a report (on any of its threads), or the calling thread's run stopped.
    bool over() const;
    bool ended() const { return ended_.load(); }

    // Asks until an answer holds rules.marker and returns it; nothing once the run is stopped or
    // ended. `first` is an answer the caller already fetched, if any.
    std::optional<Answer> ask(const AskRules& rules, const std::function<Answer()>& fetch,
                              std::optional<Answer> first = std::nullopt);

    // The shared store's cookies for a request to url once url's host has blocked this run;
    // empty otherwise (the request then goes as before).
    std::string cookies_for(std::string_view url) const;

    // Saves the answer under the reports folder and tells the user that the service's answers
    // no longer hold the marker; ends the run.
    void report_format_change(const std::string& service, std::string_view marker,
                              const Answer& answer);
    // Shows the message once and ends the run.
    void end_run(const Text& message);

private:
    struct Service {
        int blocks = 0;             // block answers in a row
        int unrecognised = 0;       // unrecognised answers in a row
        bool paused = false;        // some thread waits for the user
        std::uint64_t resumed = 0;  // pauses ended by a page; wakes the other waiters
    };
    struct Counts {
        int blocks = 0;
        int unrecognised = 0;
        std::uint64_t resumed = 0;
    };

    Counts note(const std::string& service, AnswerKind kind);
    void wait_out_block(const std::string& service, const Answer& answer, std::uint64_t resumed);

    HarvestContext& ctx_;
    mutable std::mutex mutex_;
    std::map<std::string, Service> services_;
    std::set<std::string> blocked_hosts_;
    std::atomic<bool> ended_{false};
};

// One GET on a review run's request object, the shared store's cookies added for a host that
// blocked the run. auto_headers: SetAutoHeaders between Open and Send.
Answer fetch_answer(HttpRequestObject& http, const AnswerWatch& watch, Text url,
                    bool auto_headers = false);
// One page fetch through WebRequest.
Answer web_answer(std::string_view url);
