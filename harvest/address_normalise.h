#pragma once
// Item addresses as the search pages write them often lack a scheme ("//detail.tmall.com/..."),
// which no fetch can use as it stands. Giving them "http:" lets an exported or handed-over list go
// straight into the buyer harvest.
#include <string_view>

#include "runtime/text.h"

// "//host/..." gets "http:" in front and "host/..." gets "http://"; an address that already has a
// scheme ("http://", "https://", any "name://"), a bare path ("/item.htm") and the empty text stay
// as they are.
Text normalise_address(std::string_view address);
