#pragma once
// The addresses of the marketplace's search result pages.
#include <string_view>

#include "runtime/text.h"

// "http://" + host + "/search?q=" + encoded keyword + sort + filter; the first page of a harvest
// is fetched from this address as it is. sort and filter are the stored parameters, used as they
// are ("&sort=sale-desc" or empty; price filter + "&tab=mall" / "&tab=all").
Text search_base_address(std::string_view host, std::string_view keyword, std::string_view sort,
                         std::string_view filter);

// The address of result page `page` (counted from 1): 44 items per page.
Text search_page_address(std::string_view base, int page);

// The filter parameter from the two price boxes and the Tmall-only box. An upper price whose
// integer value is below 1 adds no price filter.
Text price_filter(std::string_view low, std::string_view high, bool mall_only);
