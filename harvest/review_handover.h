#pragma once
// The units of the item search harvest's hand-over. A unit admitted for a review address fetches
// that address's review pages (the page number appended: 1, 2, ...) through a request object of its
// own, on a thread of its own, and lists the buyer IDs of each answer in the hidden list
// 超级列表框1 (column 0 a running number, column 1 the ID).
//
// The frame keeps admitting units for an address until one of them ends, so several units may
// work on one address. They share its pages: each takes the next page nobody has taken, pages
// after the first wait until the first answer has told the last page, and no page is asked for
// twice or beyond the last one. One unit alone reads page after page, as the review harvest does.
// A page whose answer lacks its marker is asked for again as the review harvest asks (see
// AnswerWatch); only the end of the run gives it up.
#include <atomic>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

#include "harvest/answer_watch.h"
#include "harvest/harvest_context.h"
#include "harvest/row_order.h"
#include "runtime/text.h"

// Where a review answer says which page is its last and which one it is.
struct ReviewPageMarkers {
    std::string_view last_start;
    std::string_view last_end;
    std::string_view current_start;
    std::string_view current_end;
};

// The mall's markers for an address of the mall review service ("/list_detail_rate.htm"), else the
// marketplace's. An answer without its last-page marker is no review page.
const ReviewPageMarkers& review_page_markers(std::string_view address);

// How the pages of a review address are asked for again: the mall's after a second, the
// marketplace's throttle answer after the 6-minute pause.
AskRules review_ask_rules(std::string_view address);

class ReviewHandover {
public:
    // The run's stop token is the calling thread's; every unit installs it on its own thread.
    // The watch is the run's: a report on any unit ends them all.
    ReviewHandover(HarvestContext& ctx, AnswerWatch& watch);
    // Waits for every unit; once the run is stopped they end at their next step.
    ~ReviewHandover();
    ReviewHandover(const ReviewHandover&) = delete;
    ReviewHandover& operator=(const ReviewHandover&) = delete;

    // Starts one unit for the address numbered `index` (from 0), RunningUnits already raised for
    // it. When the unit ends it clears `handing_over` and then lowers RunningUnits, so the flag
    // must outlive this object. A unit that cannot get a thread ends at once the same way.
    void admit(int index, const Text& address, std::atomic<bool>& handing_over);

private:
    struct Address;

    void unit(const std::shared_ptr<Address>& address);
    void list_buyers(const Address& a, const Text& url, int page, const Text& answer);
    void join_units();

    HarvestContext& ctx_;
    AnswerWatch& watch_;
    std::stop_token stop_;
    RowOrder rows_order_;  // numbers taken and rows added in the same turn, so rows stay in order
    std::atomic<int> listed_{0};
    std::shared_ptr<Address> current_;
    std::vector<std::thread> units_;
};
