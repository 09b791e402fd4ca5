#pragma once
// Where the harvests hand the rows of each answer page before they show them, so that a results
// store can keep every row the window ever showed. Called on the harvest's own threads (never the
// window's), possibly from several at once; a sink that fails must not stop the harvest.
#include <functional>
#include <string_view>
#include <vector>

#include "runtime/text.h"

struct HarvestedItem {
    int serial = 0;  // the row number the item list shows
    Text address;
    Text item_id;
    Text shop_id;
};

struct HarvestedBuyer {
    int serial = 0;             // the running number the buyer list shows
    std::string_view buyer_id;  // valid during the call, as the page's other views
};

// Names of the services an answer can come from.
inline constexpr std::string_view kSearchService = "search";
inline constexpr std::string_view kShopService = "shop";
inline constexpr std::string_view kMallReviewService = "mall-reviews";
inline constexpr std::string_view kMarketReviewService = "market-reviews";

struct HarvestedPage {
    std::string_view service;
    std::string_view address;  // the address asked
    int page = 1;
    std::string_view body;     // the answer itself
    std::string_view item_id;  // review pages: the item reviewed
    std::vector<HarvestedItem> items;
    std::vector<HarvestedBuyer> buyers;
};

class AnswerSink {
public:
    virtual ~AnswerSink() = default;
    // The rows of one answer page, before any of them is shown.
    virtual void page(const HarvestedPage& page) = 0;
    // The same, with the way to show them: `show` runs once the rows are kept (or could not be),
    // here or later on a thread of the sink's. A sink that writes behind the harvest returns at
    // once, so the harvest never waits for a commit.
    virtual void page_then(const HarvestedPage& page, std::function<void()> show) {
        this->page(page);
        show();
    }
    // The review harvest took row `row` of the URL list, and later finished it.
    virtual void url_claimed(int row) = 0;
    virtual void url_done(int row) = 0;
    // An answer saved for a report of a changed format (the run ends with it); a sink that
    // keeps no answers lets it go.
    virtual void reported(std::string_view service, std::string_view address,
                          std::string_view body) {
        (void)service;
        (void)address;
        (void)body;
    }
    // A run resumed after an unclean end: whether this page of the address was stored (and is
    // listed) already, so that asking it again lists nothing twice.
    virtual bool stored_before(std::string_view address, int page) const {
        (void)address;
        (void)page;
        return false;
    }
};
