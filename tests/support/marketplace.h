#pragma once
// A loopback marketplace for harvest tests and benchmarks. One HttpServer plays every host: it is
// reached as an HTTP proxy (ProxyEnvironment), so the request line carries the full address and the
// answer is chosen by host and path. It serves search result pages, shop listings of both kinds,
// mall and marketplace item pages, the rating-summary and counter answers and the review pages in
// JSONP, with throttling and missing markers on demand. Every request is recorded with its full
// address, in arrival order. Thread-safe.
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/scoped_env.h"
#include "web/host_settings.h"

// The fake host names the marketplace answers for.
namespace market_host {
inline constexpr const char* kSearch = "s.taobao.test";
inline constexpr const char* kShopSuffix = ".taobao.test";
inline constexpr const char* kMallDetail = "detail.tmall.test";
inline constexpr const char* kItem = "item.taobao.test";
inline constexpr const char* kMallReview = "rate.tmall.test";
inline constexpr const char* kMallSummary = "dsr-rate.tmall.test";
inline constexpr const char* kReview = "rate.taobao.test";
inline constexpr const char* kCounter = "count.taobao.test";
inline constexpr const char* kLogin = "login.taobao.test";
inline constexpr const char* kShopA = "shopa.taobao.test";
inline constexpr const char* kShopB = "shopb.example.test";
}  // namespace market_host

// One item with its item page and review pages.
struct MarketItem {
    enum class Kind {
        Mall,         // page names the mall review host; reviews from the mall services
        Marketplace,  // page names the marketplace review host
        Plain,        // page names neither review host
    };
    std::string id;
    std::string seller;  // mall sellerId / marketplace userNumId
    Kind kind = Kind::Marketplace;
    std::string spu = "300";                      // mall spuId
    std::vector<std::vector<std::string>> pages;  // buyer ids per review page, page 1 first
    // Review page -> how many answers of that page are throttled ({"wait":5}, no page marker)
    // before the real answer; and how many lack their page marker with no throttling sign.
    std::map<int, int> throttled;
    std::map<int, int> unmarked;
    bool last_page_last = false;  // mall: "lastPage":L closes the paginator, no comma follows
    bool fields_missing = false;  // item page holds no spuId / sellerId / userNumId
    int review_total = -1;        // rateTotal / feedcount; -1: the number of buyer ids

    // "http://detail.tmall.test/item.htm?id=ID" for a mall item, else the marketplace's item host.
    std::string url() const;
    int total() const;
};

// The search result pages: generated items, nid and user_id counting up from their first values.
struct MarketSearch {
    int total_pages = 1;
    int items_per_page = 44;
    bool logged_out = false;  // every answer is a login page without a page count
    // (page, index) of items whose "user_id" field is left out.
    std::set<std::pair<int, int>> without_user_id;
    long long first_nid = 520000000000;
    long long first_user_id = 1000000;
    int mall_every = 2;  // item index % mall_every == 0 is a mall item; 0: none

    struct Entry {
        std::string nid;
        std::string detail_url;  // as it reads once unescaped
        std::string user_id;
        bool mall = false;
    };
    // page from 1, index from 0.
    Entry entry(int page, int index) const;
    // The detail_url as the page writes it: "/" as "\/", "=" as "\u003d", "&" as "\u0026".
    static std::string escaped(std::string_view url);
};

// A shop's listing pages. Kind A markup (shop host under the marketplace's shop domain) and kind B
// markup (any other shop), each exactly as the shop harvest's patterns expect it, with CR LF.
struct MarketShop {
    std::string host = market_host::kShopA;
    bool kind_a = true;
    int pages = 1;
    bool page_count_block = true;  // page 1 carries the "1/N" block
    int items_per_page = 3;
    long long first_item = 600000;
    bool sale_price_every_other = true;  // kind A: every other item has a promotional price

    // Link of an item as the listing writes it: "//item.taobao.test/item.htm?id=N".
    std::string link(int page, int index) const;
    std::vector<std::string> links(int page) const;
};

// The anti-robot system in front of one host: its answers are refused until a request carries
// the pass cookie (or a number of refusals has been given).
struct MarketBlock {
    enum class Kind {
        Redirect,   // 302 to https://sec.taobao.test/query.htm?... (the follow cannot succeed)
        Rgv587,     // 200 {"rgv587_flag":"sm","url":"//sec.taobao.test/query.htm?..."}
        Forbidden,  // 403 with a "访问受限" page
    };
    Kind kind = Kind::Redirect;
    std::string host;         // e.g. market_host::kReview
    std::string pass_cookie;  // "name=value" in a request's Cookie header lets it pass
    int refusals = -1;        // refusals before answering anyway; -1: until the cookie comes
};

class Marketplace {
public:
    Marketplace();
    Marketplace(const Marketplace&) = delete;
    Marketplace& operator=(const Marketplace&) = delete;

    bool ok() const { return server_.ok(); }
    std::string proxy_url() const { return server_.base_url(); }
    HttpServer& server() { return server_; }
    // Host settings naming the fake hosts.
    static HostSettings hosts();

    void add_item(MarketItem item);  // replaces an item of the same id
    void set_search(MarketSearch search);
    void add_shop(MarketShop shop);  // replaces a shop of the same host
    // A member the member lookup ("/member/user_info.htm?nick=" on the review host) knows: its
    // name as GBK and its numeric ID. Unknown names get an answer without an ID.
    void add_member(std::string name, std::string id);
    // Forgets how often each review page was asked for: throttles and missing markers come again.
    void forget_asks();
    void set_block(MarketBlock block);
    void clear_block();
    // Where a Redirect block sends the client.
    static std::string challenge_url();
    // An exact address (with query) answered with this body, before anything else.
    void set_answer(std::string url, std::string body);
    // Runs before each answer (after recording), on the connection's thread: stall, count, ...
    void set_before_answer(std::function<void(const std::string& url)> hook);

    // Full addresses ("http://host/path?query") in arrival order.
    std::vector<std::string> urls() const;
    size_t request_count() const;
    void clear_urls();
    // Waits (bounded) until n requests arrived.
    bool wait_for_requests(size_t n, int timeout_ms = 5000) const;

private:
    HttpResponse answer(const RecordedRequest& request);
    std::optional<HttpResponse> refusal(const RecordedRequest& request, const std::string& host);
    std::string answer_locked(const std::string& url, const std::string& host,
                              const std::string& path, const std::string& query);
    std::string search_page(const std::string& query) const;
    std::string shop_page(const MarketShop& shop, const std::string& query) const;
    std::string item_page(const std::string& query) const;
    std::string summary(const std::string& query) const;
    std::string counter(const std::string& query) const;
    std::string member(const std::string& query) const;
    std::string mall_reviews(const std::string& query);
    std::string marketplace_reviews(const std::string& query);
    // How many times this review page was asked for before (and counts this one).
    int ask(const std::string& id, int page);

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::map<std::string, MarketItem> items_;
    MarketSearch search_;
    std::map<std::string, MarketShop> shops_;
    std::map<std::string, std::string> members_;
    std::map<std::string, std::string> answers_;
    std::optional<MarketBlock> block_;
    std::map<std::pair<std::string, int>, int> asked_;
    std::function<void(const std::string&)> before_answer_;
    std::vector<std::string> urls_;
    HttpServer server_;  // last: its threads stop before the state above goes
};

// Adds `items` items with ids 700000, 700001, ..., every other one a mall item, each with `pages`
// review pages of `buyers` buyers named by `buyer` (item number from 0, page, buyer); their
// addresses in order.
std::vector<std::string> add_review_items(
    Marketplace& market, int items, int pages, int buyers,
    const std::function<std::string(int item, int page, int buyer)>& buyer);

// Points the process's HTTP proxy at the marketplace for its lifetime: http_proxy / HTTP_PROXY set,
// no_proxy / NO_PROXY cleared; the old values come back afterwards. Make it before any worker runs.
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::string& proxy_url);
    explicit ProxyEnvironment(const Marketplace& market) : ProxyEnvironment(market.proxy_url()) {}
    ProxyEnvironment(const ProxyEnvironment&) = delete;
    ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

private:
    ScopedEnv http_proxy_, http_proxy_upper_, no_proxy_, no_proxy_upper_;
};

// The value of a query parameter named exactly `name`; empty when absent.
std::string query_value(std::string_view query, std::string_view name);
