#include "tests/support/marketplace.h"

#include <chrono>
#include <cstdlib>

#include "runtime/gbk.h"

namespace {

const std::string& gbk(const char* utf8) {
    // Few distinct literals; converted once each and kept.
    static std::mutex mutex;
    static std::map<std::string, std::string> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(utf8);
    if (it == cache.end()) it = cache.emplace(utf8, utf8_to_gbk(utf8)).first;
    return it->second;
}

int to_number(const std::string& text) {
    try {
        return text.empty() ? 0 : std::stoi(text);
    } catch (...) {
        return 0;
    }
}

std::string jsonp(const std::string& callback, const std::string& json) {
    return callback + "(" + json + ")";
}

// Avatar link carrying the buyer marker the review harvest cuts the ID from.
std::string avatar(const std::string& buyer) {
    return "//img.alicdn.test/avatar/XXXXXXXXXX_!!" + buyer + "-40x40.jpg";
}

std::string mall_review(const std::string& buyer, size_t n) {
    return "{\"id\":" + std::to_string(250000000 + n) +
           ",\"displayUserNick\":\"b***r\",\"displayUserNumId\":\"\",\"goldUser\":false," +
           "\"headExtraPic\":\"\",\"rateContent\":\"" + gbk("很好") + "\",\"userVipLevel\":0," +
           "\"avatar\":\"" + avatar(buyer) + "\",\"tamllSweetLevel\":1}";
}

std::string marketplace_review(const std::string& buyer, size_t n) {
    return "{\"rateId\":" + std::to_string(260000000 + n) + ",\"date\":\"2015" + gbk("年") + "05" +
           gbk("月") + "30" + gbk("日") + "\",\"content\":\"" + gbk("好评") +
           "\",\"user\":{\"nick\":\"b***r\",\"anony\":true," + "\"avatar\":\"" + avatar(buyer) +
           "\",\"rank\":12,\"vipLevel\":0}}";
}

// "%XX" back to its byte and "+" to a space, as url_encode wrote them.
std::string percent_decode(std::string_view text) {
    auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
                   hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string host_of(const RecordedRequest& r) {
    std::string_view t = r.target;
    std::string authority;
    if (size_t scheme = t.find("://"); scheme != std::string_view::npos && t[0] != '/') {
        std::string_view rest = t.substr(scheme + 3);
        authority = std::string(rest.substr(0, rest.find('/')));
    } else {
        authority = r.header("Host");
    }
    return authority.substr(0, authority.find(':'));
}

}  // namespace

std::string query_value(std::string_view query, std::string_view name) {
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        std::string_view pair = query.substr(start, end - start);
        size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name)
            return eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1));
        start = end + 1;
    }
    return {};
}

std::string MarketItem::url() const {
    return std::string("http://") +
           (kind == Kind::Mall ? market_host::kMallDetail : market_host::kItem) +
           "/item.htm?id=" + id;
}

int MarketItem::total() const {
    if (review_total >= 0) return review_total;
    size_t n = 0;
    for (const auto& page : pages)
        n += page.size();
    return static_cast<int>(n);
}

MarketSearch::Entry MarketSearch::entry(int page, int index) const {
    const long long k = static_cast<long long>(page - 1) * items_per_page + index;
    Entry e;
    e.nid = std::to_string(first_nid + k);
    e.user_id = std::to_string(first_user_id + k);
    e.mall = mall_every > 0 && k % mall_every == 0;
    e.detail_url = e.mall
                       ? "https://" + std::string(market_host::kMallDetail) +
                             "/item.htm?id=" + e.nid + "&ns=1&abbucket=7"
                       : "//" + std::string(market_host::kItem) + "/item.htm?id=" + e.nid + "&ns=1";
    return e;
}

std::string MarketSearch::escaped(std::string_view url) {
    std::string out;
    for (char c : url) {
        if (c == '/')
            out += "\\/";
        else if (c == '=')
            out += "\\u003d";
        else if (c == '&')
            out += "\\u0026";
        else
            out += c;
    }
    return out;
}

std::string MarketShop::link(int page, int index) const {
    return "//" + std::string(market_host::kItem) + "/item.htm?id=" +
           std::to_string(first_item + static_cast<long long>(page - 1) * items_per_page + index);
}

std::vector<std::string> MarketShop::links(int page) const {
    std::vector<std::string> out;
    for (int i = 0; i < items_per_page; ++i)
        out.push_back(link(page, i));
    return out;
}

Marketplace::Marketplace() {
    server_.set_handler([this](const RecordedRequest& r) { return answer(r); });
}

HostSettings Marketplace::hosts() {
    HostSettings h;
    h.search_host = market_host::kSearch;
    h.shop_domain_suffix = market_host::kShopSuffix;
    h.mall_item_detail_host = market_host::kMallDetail;
    h.mall_review_host = market_host::kMallReview;
    h.mall_rating_summary_host = market_host::kMallSummary;
    h.marketplace_review_host = market_host::kReview;
    h.counter_host = market_host::kCounter;
    h.login_start_url = std::string("http://") + market_host::kLogin + "/member/login.jhtml";
    h.member_lookup_host = market_host::kReview;
    return h;
}

void Marketplace::add_item(MarketItem item) {
    std::lock_guard lock(mutex_);
    std::string id = item.id;
    items_[id] = std::move(item);
}

void Marketplace::add_member(std::string name, std::string id) {
    std::lock_guard lock(mutex_);
    members_[std::move(name)] = std::move(id);
}

void Marketplace::set_search(MarketSearch search) {
    std::lock_guard lock(mutex_);
    search_ = std::move(search);
}

void Marketplace::add_shop(MarketShop shop) {
    std::lock_guard lock(mutex_);
    std::string host = shop.host;
    shops_[host] = std::move(shop);
}

void Marketplace::forget_asks() {
    std::lock_guard lock(mutex_);
    asked_.clear();
}

void Marketplace::set_block(MarketBlock block) {
    std::lock_guard lock(mutex_);
    block_ = std::move(block);
}

void Marketplace::clear_block() {
    std::lock_guard lock(mutex_);
    block_.reset();
}

std::string Marketplace::challenge_url() {
    return "https://sec.taobao.test/query.htm?action=QueryAction&event_submit_do_login=ok";
}

std::optional<HttpResponse> Marketplace::refusal(const RecordedRequest& request,
                                                 const std::string& host) {
    std::lock_guard lock(mutex_);
    if (!block_ || block_->host != host || block_->refusals == 0) return std::nullopt;
    const std::string cookies = "; " + request.header("Cookie") + ";";
    if (!block_->pass_cookie.empty() &&
        cookies.find("; " + block_->pass_cookie + ";") != std::string::npos)
        return std::nullopt;
    if (block_->refusals > 0) --block_->refusals;
    switch (block_->kind) {
        case MarketBlock::Kind::Redirect:
            return HttpResponse::redirect(challenge_url());
        case MarketBlock::Kind::Rgv587:
            return HttpResponse::text(
                "{\"rgv587_flag\":\"sm\",\"url\":\"//sec.taobao.test/query.htm?action="
                "QueryAction&event_submit_do_login=ok\"}");
        case MarketBlock::Kind::Forbidden:
            break;
    }
    return HttpResponse::text(
        "<html><head><title>" + gbk("访问受限") + "</title></head><body>denied</body></html>", 403);
}

void Marketplace::set_answer(std::string url, std::string body) {
    std::lock_guard lock(mutex_);
    answers_[std::move(url)] = std::move(body);
}

void Marketplace::set_before_answer(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(mutex_);
    before_answer_ = std::move(hook);
}

std::vector<std::string> Marketplace::urls() const {
    std::lock_guard lock(mutex_);
    return urls_;
}

size_t Marketplace::request_count() const {
    std::lock_guard lock(mutex_);
    return urls_.size();
}

void Marketplace::clear_urls() {
    std::lock_guard lock(mutex_);
    urls_.clear();
}

bool Marketplace::wait_for_requests(size_t n, int timeout_ms) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return urls_.size() >= n; });
}

HttpResponse Marketplace::answer(const RecordedRequest& request) {
    const std::string host = host_of(request);
    std::string url = request.target;
    if (url.empty() || url[0] == '/') url = "http://" + host + url;
    const std::string path = request.path();
    const size_t q = request.target.find('?');
    const std::string query = q == std::string::npos ? std::string() : request.target.substr(q + 1);

    std::function<void(const std::string&)> hook;
    {
        std::lock_guard lock(mutex_);
        urls_.push_back(url);
        hook = before_answer_;
    }
    arrived_.notify_all();
    if (hook) hook(url);
    if (std::optional<HttpResponse> refused = refusal(request, host)) return *refused;

    std::string body;
    {
        std::lock_guard lock(mutex_);
        body = answer_locked(url, host, path, query);
    }
    if (body.empty()) return HttpResponse::text("<html><body>not found</body></html>", 404);
    HttpResponse r = HttpResponse::text(std::move(body));
    r.headers = {{"Content-Type", "text/html; charset=gbk"}};
    return r;
}

std::string Marketplace::answer_locked(const std::string& url, const std::string& host,
                                       const std::string& path, const std::string& query) {
    if (auto it = answers_.find(url); it != answers_.end()) return it->second;
    if (host == market_host::kSearch && path == "/search") return search_page(query);
    if ((host == market_host::kMallDetail || host == market_host::kItem) && path == "/item.htm")
        return item_page(query);
    if (host == market_host::kMallSummary && path == "/list_dsr_info.htm") return summary(query);
    if (host == market_host::kCounter && path == "/counter3") return counter(query);
    if (host == market_host::kMallReview && path == "/list_detail_rate.htm")
        return mall_reviews(query);
    if (host == market_host::kReview && path == "/feedRateList.htm")
        return marketplace_reviews(query);
    if (host == market_host::kReview && path == "/member/user_info.htm") return member(query);
    if (auto it = shops_.find(host); it != shops_.end() && path == "/search.htm")
        return shop_page(it->second, query);
    return {};
}

std::string Marketplace::search_page(const std::string& query) const {
    if (search_.logged_out)
        return "<!DOCTYPE html>\n<html><head><title>" + gbk("淘宝网 - 登录") +
               "</title></head>\n<body><form action=\"//" + market_host::kLogin +
               "/member/login.jhtml\" method=\"post\"></form></body></html>\n";
    const std::string s = query_value(query, "s");
    const int page = s.empty() ? 1 : to_number(s) / 44 + 1;
    std::string auctions;
    if (page >= 1 && page <= search_.total_pages) {
        for (int i = 0; i < search_.items_per_page; ++i) {
            const MarketSearch::Entry e = search_.entry(page, i);
            if (!auctions.empty()) auctions += ",";
            auctions += "{\"p4p\":1,\"nid\":\"" + e.nid +
                        "\",\"category\":\"50010850\",\"pid\":\"\",\"title\":\"\\u003cspan "
                        "class\\u003dH\\u003eItem\\u003c\\/span\\u003e " +
                        e.nid + "\",\"raw_title\":\"Item " + e.nid +
                        "\",\"pic_url\":\"\\/\\/g-search1.alicdn.test\\/img\\/" + e.nid +
                        ".jpg\",\"detail_url\":\"" + MarketSearch::escaped(e.detail_url) +
                        "\",\"view_price\":\"99.00\",\"view_fee\":\"0.00\",\"item_loc\":\"" +
                        gbk("浙江 杭州") + "\",\"view_sales\":\"12" + gbk("人付款") +
                        "\",\"comment_count\":\"7\",";
            if (!search_.without_user_id.count({page, i}))
                auctions += "\"user_id\":\"" + e.user_id + "\",";
            auctions += "\"nick\":\"shop" + e.user_id +
                        "\",\"shopcard\":{\"isTmall\":" + (e.mall ? "true" : "false") +
                        "},\"icon\":[],\"shopLink\":\"\\/\\/store.taobao.test\\/shop\\/"
                        "view_shop.htm?user_number_id\\u003d" +
                        e.user_id + "\"}";
        }
    }
    const std::string json =
        "{\"pageName\":\"mainsrp\",\"mods\":{\"itemlist\":{\"status\":\"show\",\"data\":{"
        "\"postFeeText\":\"" +
        gbk("运费") + "\",\"auctions\":[" + auctions +
        "]}},\"pager\":{\"status\":\"show\",\"data\":{\"pageSize\":44,\"totalPage\":" +
        std::to_string(search_.total_pages) + ",\"currentPage\":" + std::to_string(page) +
        ",\"totalCount\":" + std::to_string(search_.total_pages * search_.items_per_page) + "}}}}";
    return "<!DOCTYPE html>\n<html>\n<head>\n<title>" + gbk("淘宝搜索") +
           "</title>\n</head>\n<body>\n<script>\n    g_page_config = " + json +
           ";\n    g_srp_loadCss();\n</script>\n</body>\n</html>\n";
}

std::string Marketplace::shop_page(const MarketShop& shop, const std::string& query) const {
    const bool right_listing = shop.kind_a ? query_value(query, "search") == "y"
                                           : query_value(query, "scene") == "taobao_shop";
    const int page = to_number(query_value(query, "pageNo"));
    const std::string crlf = "\r\n";
    std::string html = "<!DOCTYPE html>" + crlf + "<html>" + crlf + "<head><title>" + gbk("店铺") +
                       "</title></head>" + crlf + "<body>" + crlf;
    if (!right_listing || page < 1 || page > shop.pages)
        return html + "<div class=\"no-result\"></div>" + crlf + "</body></html>" + crlf;
    const std::string listing =
        "//" + shop.host +
        (shop.kind_a ? "/search.htm?search=y&pageNo=" : "/search.htm?scene=taobao_shop&pageNo=");
    const std::string total = std::to_string(shop.pages);
    const std::string next = listing + std::to_string(page + 1);
    const std::string prev = listing + std::to_string(page - 1);
    if (shop.page_count_block) {
        html += "<div class=\"pagination\">" + crlf;
        if (shop.kind_a) {
            html += "<span class=\"page-info\">" + std::to_string(page) + "/" + total + "</span>" +
                    crlf;
            html += page == 1 ? "<a class=\"disable\" >" + gbk("上一页") + "</a>"
                              : "<a href=\"" + prev + "\" >" + gbk("上一页") + "</a>";
            html += crlf;
            html += page == shop.pages ? "<a class=\"disable\" >" + gbk("下一页") + "</a>"
                                       : "<a href=\"" + next + "\" >" + gbk("下一页") + "</a>";
            html += crlf;
        } else {
            html += "<b class=\"ui-page-s-len\">" + std::to_string(page) + "/" + total + "</b>" +
                    crlf + std::string(28, ' ');
            html += page == 1
                        ? "<b title=\"" + gbk("上一页") + "\" class=\"ui-page-s-prev\">&lt;</b>"
                        : "<a title=\"" + gbk("上一页") + "\" class=\"ui-page-s-prev\" href=\"" +
                              prev + "\">&lt;</a>";
            html += crlf + std::string(40, ' ');
            html += page == shop.pages
                        ? "<b title=\"" + gbk("下一页") + "\" class=\"ui-page-s-next\">&gt;</b>"
                        : "<a title=\"" + gbk("下一页") + "\" class=\"ui-page-s-next\" href=\"" +
                              next + "\">&gt;</a>";
            html += crlf;
        }
        html += "</div>" + crlf;
    }
    for (int i = 0; i < shop.items_per_page; ++i) {
        const std::string link = shop.link(page, i);
        const std::string name = gbk("宝贝") + " " + std::to_string(i + 1);
        if (shop.kind_a) {
            html += "<dl class=\"item\">" + crlf + "<dd class=\"detail\">" + crlf;
            html += "<a class=\"item-name\" href=\"" + link + "\" target=\"_blank\">" + name +
                    "</a>" + crlf;
            html += "<div class=\"attribute\">" + crlf;
            html +=
                "<div class=\"cprice-area\"><span class=\"symbol\">&yen;</span><span "
                "class=\"c-price\">128.00</span></div>" +
                crlf;
            if (shop.sale_price_every_other && i % 2 == 1)
                html +=
                    "<div class=\"sprice-area\"><span class=\"symbol\">&yen;</span><span "
                    "class=\"s-price\">99.00</span></div>" +
                    crlf;
            html += "<div class=\"sale-area\">" + gbk("已售：") + "<span class=\"sale-num\">" +
                    std::to_string(10 + i) + "</span>" + gbk("件") + "</div>" + crlf;
            html += "</div>" + crlf + "</dd>" + crlf + "</dl>" + crlf;
        } else {
            html += "<dl class=\"item\">" + crlf + "<dt class=\"photo\">" + crlf;
            html += "<a href=\"" + link + "\" target=\"_blank\">" + crlf + "<img alt=\"" + name +
                    "\" src=\"//img.example.test/" + std::to_string(i) + ".jpg\"></a>" + crlf;
            html += "</dt>" + crlf + "<dd class=\"detail\"><a class=\"item-name\" href=\"" + link +
                    "\" target=\"_blank\">" + name + "</a></dd>" + crlf + "</dl>" + crlf;
        }
    }
    return html + "</body>" + crlf + "</html>" + crlf;
}

std::string Marketplace::item_page(const std::string& query) const {
    const std::string id = query_value(query, "id");
    auto it = items_.find(id);
    if (it == items_.end())
        return "<html><head><title>" + gbk("页面不存在") +
               "</title></head><body>gone</body></html>\n";
    const MarketItem& item = it->second;
    std::string html = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"gbk\">\n<title>Item " +
                       item.id + "</title>\n</head>\n<body>\n";
    switch (item.kind) {
        case MarketItem::Kind::Mall:
            html += "<script>TShop.Setup({\"api\":{\"descUrl\":\"//desc.tmall.test/i7/" + item.id +
                    "\"},\"itemDO\":{\"itemId\":\"" + item.id + "\"," +
                    (item.fields_missing ? "" : "\"spuId\":\"" + item.spu + "\",") +
                    "\"categoryId\":\"50010850\"},\"rateConfig\":{\"listApi\":\"//" +
                    market_host::kMallReview + "/list_detail_rate.htm\",\"itemId\":\"" + item.id +
                    "\"}});</script>\n";
            html += "<script>var g_config = {shopId:\"77\", " +
                    (item.fields_missing ? std::string() : "sellerId:\"" + item.seller + "\", ") +
                    "itemId:\"" + item.id + "\"};</script>\n";
            break;
        case MarketItem::Kind::Marketplace:
            html += "<script>var g_config = {idata:{item:{id:\"" + item.id + "\"}}};</script>\n";
            html += "<div id=\"reviews\" data-listApi=\"//" + std::string(market_host::kReview) +
                    "/feedRateList.htm?" +
                    (item.fields_missing ? std::string() : "userNumId=" + item.seller + "&") +
                    "auctionNumId=" + item.id + "&siteID=4\"></div>\n";
            break;
        case MarketItem::Kind::Plain:
            html += "<div class=\"desc\">" + gbk("暂无评价") + "</div>\n";
            break;
    }
    return html + "</body>\n</html>\n";
}

std::string Marketplace::summary(const std::string& query) const {
    const std::string id = query_value(query, "itemId");
    auto it = items_.find(id);
    const int total = it == items_.end() ? 0 : it->second.total();
    return jsonp(
        query_value(query, "callback"),
        "{\"dsr\":{\"gradeAvg\":4.8,\"itemId\":" + (id.empty() ? "0" : id) +
            ",\"peopleNum\":0,\"periodSellerLevel\":0,\"rateTotal\":" + std::to_string(total) +
            ",\"sellerId\":\"" + query_value(query, "sellerId") + "\",\"spuId\":\"" +
            query_value(query, "spuId") + "\",\"totalSoldQuantity\":0}}");
}

std::string Marketplace::counter(const std::string& query) const {
    std::string others, feeds;
    const std::string keys = query_value(query, "keys");
    size_t start = 0;
    while (start < keys.size()) {
        size_t end = keys.find(',', start);
        if (end == std::string::npos) end = keys.size();
        const std::string key = keys.substr(start, end - start);
        start = end + 1;
        const std::string feed = "ICE_3_feedcount-";
        if (key.rfind(feed, 0) == 0) {
            auto it = items_.find(key.substr(feed.size()));
            feeds +=
                ",\"" + key + "\":" + std::to_string(it == items_.end() ? 0 : it->second.total());
        } else {
            others += ",\"" + key + "\":0";
        }
    }
    // The feed counts come last, each closed by the brace or the next key.
    std::string json = others + feeds;
    if (!json.empty())
        json[0] = '{';
    else
        json = "{";
    return jsonp(query_value(query, "callback"), json + "}") + ";";
}

std::string Marketplace::member(const std::string& query) const {
    const std::string name = percent_decode(query_value(query, "nick"));
    auto it = members_.find(name);
    if (it == members_.end()) return "{\"success\":false,\"nick\":\"" + name + "\"}";
    return "{\"success\":true,\"nick\":\"" + name + "\",\"userNumId\":\"" + it->second +
           "\",\"vipLevel\":0}";
}

int Marketplace::ask(const std::string& id, int page) {
    return ++asked_[{id, page}];
}

std::string Marketplace::mall_reviews(const std::string& query) {
    const std::string id = query_value(query, "itemId");
    const int page = to_number(query_value(query, "currentPage"));
    const std::string callback = query_value(query, "callback");
    auto it = items_.find(id);
    const MarketItem* item = it == items_.end() ? nullptr : &it->second;
    if (item) {
        const int n = ask(id, page);
        const int throttled = item->throttled.count(page) ? item->throttled.at(page) : 0;
        const int unmarked = item->unmarked.count(page) ? item->unmarked.at(page) : 0;
        if (n <= throttled)
            return jsonp(callback, "{\"wait\":5,\"url\":\"//sec.taobao.test/query.htm\"}");
        if (n <= throttled + unmarked)
            return jsonp(callback,
                         "{\"rateDetail\":{\"rateCount\":{\"total\":0},\"rateList\":[]}}");
    }
    std::string list;
    const int last = item ? static_cast<int>(item->pages.size()) : 0;
    if (item && page >= 1 && page <= last) {
        const auto& buyers = item->pages[page - 1];
        for (size_t i = 0; i < buyers.size(); ++i)
            list += (i ? "," : "") + mall_review(buyers[i], i);
    }
    const std::string total = std::to_string(item ? item->total() : 0);
    const std::string paginator =
        item && item->last_page_last
            ? "{\"items\":" + total + ",\"page\":" + std::to_string(page) +
                  ",\"lastPage\":" + std::to_string(last) + "}"
            : "{\"items\":" + total + ",\"lastPage\":" + std::to_string(last) +
                  ",\"page\":" + std::to_string(page) + "}";
    return jsonp(callback, "{\"rateDetail\":{\"rateCount\":{\"total\":" + total +
                               ",\"shop\":0,\"picNum\":0},\"rateList\":[" + list +
                               "],\"searchinfo\":\"\",\"tags\":[],\"paginator\":" + paginator +
                               "}}");
}

std::string Marketplace::marketplace_reviews(const std::string& query) {
    const std::string id = query_value(query, "auctionNumId");
    const int page = to_number(query_value(query, "currentPageNum"));
    const std::string callback = query_value(query, "callback");
    auto it = items_.find(id);
    const MarketItem* item = it == items_.end() ? nullptr : &it->second;
    if (item) {
        const int n = ask(id, page);
        const int throttled = item->throttled.count(page) ? item->throttled.at(page) : 0;
        const int unmarked = item->unmarked.count(page) ? item->unmarked.at(page) : 0;
        if (n <= throttled)
            return jsonp(callback, "{\"wait\":5,\"url\":\"//sec.taobao.test/query.htm\"}");
        if (n <= throttled + unmarked) return jsonp(callback, "{\"comments\":null}");
    }
    std::string list;
    const int max = item ? static_cast<int>(item->pages.size()) : 0;
    if (item && page >= 1 && page <= max) {
        const auto& buyers = item->pages[page - 1];
        for (size_t i = 0; i < buyers.size(); ++i)
            list += (i ? "," : "") + marketplace_review(buyers[i], i);
    }
    return jsonp(callback, "{\"qnaDisabled\":true,\"watershed\":100,\"search\":\"\",\"maxPage\":" +
                               std::to_string(max) + ",\"currentPageNum\":" + std::to_string(page) +
                               ",\"comments\":[" + list + "]}");
}

ProxyEnvironment::ProxyEnvironment(const std::string& proxy_url)
    : http_proxy_("http_proxy", proxy_url.c_str()),
      http_proxy_upper_("HTTP_PROXY", proxy_url.c_str()),
      no_proxy_("no_proxy", nullptr),
      no_proxy_upper_("NO_PROXY", nullptr) {}

std::vector<std::string> add_review_items(
    Marketplace& market, int items, int pages, int buyers,
    const std::function<std::string(int item, int page, int buyer)>& buyer) {
    std::vector<std::string> urls;
    for (int k = 0; k < items; ++k) {
        MarketItem item;
        item.id = std::to_string(700000 + k);
        item.seller = std::to_string(900000 + k);
        item.kind = k % 2 ? MarketItem::Kind::Mall : MarketItem::Kind::Marketplace;
        for (int p = 0; p < pages; ++p) {
            std::vector<std::string> names;
            for (int b = 0; b < buyers; ++b)
                names.push_back(buyer(k, p, b));
            item.pages.push_back(names);
        }
        urls.push_back(item.url());
        market.add_item(std::move(item));
    }
    return urls;
}
