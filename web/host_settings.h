#pragma once
// The marketplace's hosts, kept in one place. The defaults are the live marketplace; tests and
// other front ends build their own copy (e.g. pointing at a loopback server) and pass it down.
#include <string>

struct HostSettings {
    // Search result pages of the item harvest.
    std::string search_host = "s.taobao.com";
    // Shop addresses end in this suffix (shop item harvest).
    std::string shop_domain_suffix = ".taobao.com";
    // Host name that marks a mall item's detail page.
    std::string mall_item_detail_host = "detail.tmall.com";
    // Mall review pages ("/list_detail_rate.htm"); its name in an item page marks a mall item.
    std::string mall_review_host = "rate.tmall.com";
    // Mall rating summary ("/list_dsr_info.htm").
    std::string mall_rating_summary_host = "dsr-rate.tmall.com";
    // Marketplace review pages ("/feedRateList.htm"); its name in an item page marks a marketplace
    // item.
    std::string marketplace_review_host = "rate.taobao.com";
    // Counter service ("/counter3").
    std::string counter_host = "count.taobao.com";
    // Where the embedded browser starts the sign-in.
    std::string login_start_url = "https://login.taobao.com/member/login.jhtml";
    // The cookie a signed-in session carries on the search host; with it, a first search page
    // without a page count is not a missing login but a changed page.
    std::string login_cookie = "unb";
    // Looks a Wangwang user name up to its numeric member id.
    std::string member_lookup_host = "rate.taobao.com";
};
