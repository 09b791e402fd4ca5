#include "harvest/review_harvest.h"

#include <vector>

#include "harvest/answer_watch.h"
#include "harvest/buyer_list.h"
#include "harvest/controls.h"
#include "harvest/text_extract.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/stop.h"
#include "web/http_request_object.h"

namespace {

using namespace controls;

struct Messages {
    Text fetching = utf8_to_gbk("正在获取第");
    Text url_content = utf8_to_gbk("个URL内容");
    Text missing_id = utf8_to_gbk("id错误，请保证您填写的淘宝网页有ID显示");
    Text running = utf8_to_gbk("正常运行...");
};

const Messages& messages() {
    static const Messages m;
    return m;
}

enum class Outcome { NextRow, EndWorker };

// One GET on the worker's request object; the answer is the body as GBK text, empty on failure.
Text fetch(HttpRequestObject& http, Text url, bool auto_headers = false) {
    http.Open("GET", url);
    if (auto_headers) http.SetAutoHeaders();
    http.Send();
    return http.ResponseBodyText();
}

bool contains(std::string_view text, std::string_view sought) {
    return text_find(text, sought) != -1;
}

// Where a review answer came from: its service, the item address of the URL row, the page.
struct ReviewSource {
    std::string_view service;
    const Text& url;
    const Text& item_id;
    int page;
};

// Lists the buyer IDs of one review answer; the sink has them before the window does. A page a
// resumed run listed before the program ended is not listed again.
void collect_buyers(HarvestContext& ctx, const ReviewSource& source, const Text& answer) {
    if (ctx.sink != nullptr && ctx.sink->stored_before(source.url, source.page)) return;
    list_buyers(
        ctx.window, kBuyerList, answer, ctx.values.BuyerListOrder, ctx.values.BuyerCounter,
        ctx.sink == nullptr
            ? BuyersNumbered()
            : [&](int first, const std::vector<Text>& ids, std::function<void()> show) {
                  HarvestedPage record{source.service, source.url, source.page, answer,
                                       source.item_id, {},         {}};
                  for (size_t i = 0; i < ids.size(); ++i)
                      record.buyers.push_back({first + static_cast<int>(i), ids[i]});
                  ctx.sink->page_then(record, std::move(show));
              });
}

// In the buyer list's turn, so the count includes the rows taken before it, which may still be on
// their way through the results store.
void show_buyer_count(HarvestContext& ctx) {
    std::optional<RowOrder::Ticket> ticket = ctx.values.BuyerListOrder.take([] { return true; });
    ticket->show([&window = ctx.window] {
        window.set_text(kBuyerCountLabel, to_text(window.row_count(kBuyerList)));
    });
}

Outcome missing_item_id() {
    message_box(messages().missing_id);
    return Outcome::EndWorker;
}

Text mall_review_url(const HarvestContext& ctx, const Text& item_id, const Text& spu_id,
                     const Text& seller_id, int page) {
    // The time and the first digits are drawn before the second digits.
    const Text time = js_time_ms();
    const Text digits = random_digits(4);
    const Text callback = random_digits(4);
    return "http://" + ctx.hosts.mall_review_host + "/list_detail_rate.htm?itemId=" + item_id +
           "&spuId=" + spu_id + "&sellerId=" + seller_id + "&order=3&currentPage=" + to_text(page) +
           "&append=0&content=0&tagId=&posi=&picture=1&ua=&isg=&itemPropertyId=&"
           "itemPropertyIndex=&userPropertyId=&userPropertyIndex=&_ksTS=" +
           time + "_" + digits + "&callback=jsonp" + callback;
}

// Mall answers are asked for again after a second whatever they are; the marketplace's throttle
// answer first pauses 6 minutes.
AskRules mall_rules(const HarvestContext& ctx) {
    return {ctx.hosts.mall_review_host + "/list_detail_rate.htm", "lastPage", false, false};
}

AskRules marketplace_rules(const HarvestContext& ctx) {
    return {ctx.hosts.marketplace_review_host + "/feedRateList.htm", "maxPage", true, false};
}

Outcome mall_branch(HarvestContext& ctx, AnswerWatch& watch, HttpRequestObject& http,
                    const Text& url, const Text& item_page) {
    const Text spu_id = extract_between(item_page, "spuId\":\"", "\"");
    const Text seller_id = extract_between(item_page, "sellerId:\"", "\"");
    const Text item_id = review_item_id(url);
    if (item_id.empty()) return missing_item_id();

    const Text summary =
        fetch(http, "http://" + ctx.hosts.mall_rating_summary_host +
                        "/list_dsr_info.htm?itemId=" + item_id + "&spuId=" + spu_id +
                        "&sellerId=" + seller_id + "&_ksTS=1431775557951_177&callback=jsonp178");
    ctx.window.set_text(kReviewTotalLabel, extract_between(summary, "rateTotal\":", ","));

    int page = 0;
    Text current, last;
    do {
        ++page;
        auto ask = [&] {
            return fetch_answer(http, watch, mall_review_url(ctx, item_id, spu_id, seller_id, page),
                                true);
        };
        Answer first = ask();
        ctx.window.set_text(kReviewPageLabel, to_text(page));
        const std::optional<Answer> got = watch.ask(mall_rules(ctx), ask, std::move(first));
        if (!got) return Outcome::EndWorker;
        const Text& answer = got->body;
        ctx.window.set_title(messages().running);
        last = extract_between(answer, "lastPage\":", ",");
        current = extract_between(answer, "page\":", "}");
        collect_buyers(ctx, {kMallReviewService, url, item_id, page}, answer);
    } while (to_int(current) < to_int(last));
    show_buyer_count(ctx);
    return Outcome::NextRow;
}

Outcome marketplace_branch(HarvestContext& ctx, AnswerWatch& watch, HttpRequestObject& http,
                           const Text& url, const Text& item_page) {
    const Text item_id = review_item_id(url);
    if (item_id.empty()) return missing_item_id();
    const Text user_id = extract_between(item_page, "userNumId=", "&");

    const Text counter =
        fetch(http, "http://" + ctx.hosts.counter_host +
                        "/counter3?_ksTS=1431778801662_128&callback=jsonp129&keys=SM_368_sm-"
                        "669043267,ICE_3_feedcount-" +
                        item_id + ",SM_368_dsr-669043267");
    ctx.window.set_text(kReviewTotalLabel,
                        extract_between(counter, "ICE_3_feedcount-" + item_id + "\":", "}"));

    int page = 0;
    Text current, max;
    do {
        ++page;
        ctx.window.set_text(kReviewPageLabel, to_text(page));
        const Text review_url =
            "http://" + ctx.hosts.marketplace_review_host +
            "/feedRateList.htm?_ksTS=1432983822760_2212&callback=jsonp_reviews_list&userNumId=" +
            user_id + "&auctionNumId=" + item_id + "&siteID=4&currentPageNum=" + to_text(page) +
            "&rateType=3&orderType=sort_weight&showContent=1&attribute=&ua=";
        const std::optional<Answer> got = watch.ask(
            marketplace_rules(ctx), [&] { return fetch_answer(http, watch, review_url); });
        if (!got) return Outcome::EndWorker;
        const Text& answer = got->body;
        ctx.window.set_title(messages().running);
        collect_buyers(ctx, {kMarketReviewService, url, item_id, page}, answer);
        show_buyer_count(ctx);
        max = extract_between(answer, "\"maxPage\":", ",");
        current = extract_between(answer, "currentPageNum\":", ",");
    } while (to_int(current) < to_int(max));
    return Outcome::NextRow;
}

}  // namespace

int claim_review_row(Window& window, ProgramValues& values) {
    const int rows = window.row_count(kUrlList);
    int cursor = values.ReviewCursor.load();
    do {
        if (cursor + 1 > rows) return -1;
    } while (!values.ReviewCursor.compare_exchange_weak(cursor, cursor + 1));
    return cursor;
}

Text review_item_id(std::string_view url) {
    Text id = extract_between(url, "id=", "&");
    if (id.empty()) id = extract_after(url, "id=");
    return id;
}

void review_worker(HarvestContext& ctx) {
    HttpRequestObject http;
    AnswerWatch watch(ctx);
    while (ctx.values.ReviewRunFlag.load() != 0 && !current_run_stopped()) {
        const int c = claim_review_row(ctx.window, ctx.values);
        if (c < 0) break;
        if (ctx.sink != nullptr) ctx.sink->url_claimed(c);
        const Text url = ctx.window.cell(kUrlList, c, 0);
        ctx.window.set_text(kReviewUrlLabel,
                            messages().fetching + to_text(c + 1) + messages().url_content);
        const Text item_page = fetch(http, url);
        Outcome outcome = Outcome::NextRow;
        if (contains(item_page, ctx.hosts.mall_review_host))
            outcome = mall_branch(ctx, watch, http, url, item_page);
        else if (contains(item_page, ctx.hosts.marketplace_review_host))
            outcome = marketplace_branch(ctx, watch, http, url, item_page);
        if (outcome == Outcome::EndWorker) break;
        if (ctx.sink != nullptr) ctx.sink->url_done(c);
    }
}
