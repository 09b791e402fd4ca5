#include "harvest/search_address.h"

#include <string>

#include "harvest/url_encode.h"
#include "runtime/convert.h"

Text search_base_address(std::string_view host, std::string_view keyword, std::string_view sort,
                         std::string_view filter) {
    Text address = "http://";
    address += host;
    address += "/search?q=";
    address += url_encode(keyword);
    address += sort;
    address += filter;
    return address;
}

Text search_page_address(std::string_view base, int page) {
    // 64-bit so a huge page limit cannot wrap the offset into a negative number.
    const long long offset = (static_cast<long long>(page) - 1) * 44;
    Text address(base);
    address += "&promote=0&bcoffset=-4&s=";
    address += std::to_string(offset);
    return address;
}

Text price_filter(std::string_view low, std::string_view high, bool mall_only) {
    Text filter;
    if (to_int(high) >= 1) {
        // The boxes are free text: encode them so a stray space, "&" or "#" cannot break the
        // address or add a parameter. Plain prices (digits, ".", "-") come through unchanged.
        filter = "&filter=reserve_price%5B";
        filter += url_encode(low);
        filter += "%2C";
        filter += url_encode(high);
        filter += "%5D";
    }
    filter += mall_only ? "&tab=mall" : "&tab=all";
    return filter;
}
