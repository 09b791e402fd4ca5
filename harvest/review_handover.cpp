#include "harvest/review_handover.h"

#include <condition_variable>
#include <optional>
#include <system_error>

#include "harvest/buyer_list.h"
#include "harvest/controls.h"
#include "harvest/text_extract.h"
#include "runtime/convert.h"
#include "runtime/stop.h"
#include "web/http_request_object.h"

namespace {

constexpr std::string_view kHandoverBuyers = controls::kCollectedBuyers;

// Mall answers close with a paginator {"items":N,"lastPage":L,"page":P}; marketplace answers carry
// "maxPage":M,"currentPageNum":P.
constexpr ReviewPageMarkers kMallMarkers{"lastPage\":", ",", "page\":", "}"};
constexpr ReviewPageMarkers kMarketplaceMarkers{"\"maxPage\":", ",", "currentPageNum\":", ","};

}  // namespace

const ReviewPageMarkers& review_page_markers(std::string_view address) {
    return text_find(address, "/list_detail_rate.htm") != -1 ? kMallMarkers : kMarketplaceMarkers;
}

AskRules review_ask_rules(std::string_view address) {
    const bool mall = &review_page_markers(address) == &kMallMarkers;
    return {service_of(address), std::string(review_page_markers(address).last_start), !mall, true};
}

// The pages of one address, shared by the units admitted for it.
struct ReviewHandover::Address {
    Address(int i, const Text& a, std::atomic<bool>& flag)
        : index(i), address(a), markers(review_page_markers(a)), handing_over(flag) {}

    // The next page to fetch; 0 when there is none left or the run is over. While page 1 is
    // out, the number of pages is unknown and the others wait.
    int take(std::stop_token stop) {
        std::unique_lock lock(mutex);
        changed.wait(lock, stop, [this] { return ended || last_known || next_page == 1; });
        if (stop.stop_requested() || ended) return 0;
        if (last_known && next_page > last_page) return 0;
        return next_page++;
    }
    void answered(int last) {
        {
            std::lock_guard lock(mutex);
            last_page = last;
            last_known = true;
        }
        changed.notify_all();
    }
    void end() {
        {
            std::lock_guard lock(mutex);
            ended = true;
        }
        changed.notify_all();
    }

    const int index;
    const Text address;
    const ReviewPageMarkers& markers;
    std::atomic<bool>& handing_over;

    std::mutex mutex;
    std::condition_variable_any changed;
    int next_page = 1;
    int last_page = 0;
    bool last_known = false;
    bool ended = false;
};

ReviewHandover::ReviewHandover(HarvestContext& ctx, AnswerWatch& watch)
    : ctx_(ctx), watch_(watch), stop_(current_stop_token()) {}

ReviewHandover::~ReviewHandover() {
    join_units();
}

void ReviewHandover::admit(int index, const Text& address, std::atomic<bool>& handing_over) {
    if (!current_ || current_->index != index) {
        // The frame lets every unit of an address end before it hands over the next one.
        join_units();
        current_ = std::make_shared<Address>(index, address, handing_over);
    }
    try {
        units_.emplace_back([this, a = current_] { unit(a); });
    } catch (const std::system_error&) {
        // Without a thread the unit has nothing to run on; give its place back so the frame
        // goes on instead of waiting for ever.
        handing_over.store(false);
        ctx_.values.RunningUnits.fetch_sub(1);
    }
}

void ReviewHandover::unit(const std::shared_ptr<Address>& a) {
    const StopScope scope(stop_);
    {
        std::optional<HttpRequestObject> http;  // made once there is a page to fetch
        const AskRules rules = review_ask_rules(a->address);
        for (int page = a->take(stop_); page > 0; page = a->take(stop_)) {
            if (!http) http.emplace();
            const Text url = a->address + to_text(page);
            const std::optional<Answer> got =
                watch_.ask(rules, [&] { return fetch_answer(*http, watch_, url); });
            // Only the end of the run gives a page up; the other units of the address end too.
            if (!got) {
                a->end();
                break;
            }
            const Text& answer = got->body;
            const int last =
                to_int(extract_between(answer, a->markers.last_start, a->markers.last_end));
            const int current =
                to_int(extract_between(answer, a->markers.current_start, a->markers.current_end));
            list_buyers(*a, url, page, answer);
            a->answered(last);
            if (current >= last) break;
        }
    }
    // The flag first: once RunningUnits drops the frame may move on and the flag go with it.
    a->handing_over.store(false);
    ctx_.values.RunningUnits.fetch_sub(1);
}

void ReviewHandover::list_buyers(const Address& a, const Text& url, int page, const Text& answer) {
    ::list_buyers(
        ctx_.window, kHandoverBuyers, answer, rows_order_, listed_,
        ctx_.sink == nullptr
            ? BuyersNumbered()
            : [&](int first, const std::vector<Text>& ids, std::function<void()> show) {
                  const bool mall = &a.markers == &kMallMarkers;
                  Text item_id =
                      extract_between(a.address, mall ? "itemId=" : "auctionNumId=", "&");
                  HarvestedPage record{mall ? kMallReviewService : kMarketReviewService,
                                       url,
                                       page,
                                       answer,
                                       item_id,
                                       {},
                                       {}};
                  for (size_t i = 0; i < ids.size(); ++i)
                      record.buyers.push_back({first + static_cast<int>(i), ids[i]});
                  ctx_.sink->page_then(record, std::move(show));
              });
}

void ReviewHandover::join_units() {
    for (std::thread& t : units_)
        if (t.joinable()) t.join();
    units_.clear();
}
