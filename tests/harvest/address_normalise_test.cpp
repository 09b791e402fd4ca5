#include "harvest/address_normalise.h"

#include <gtest/gtest.h>

namespace {

TEST(NormaliseAddress, GivesSchemelessAddressesHttp) {
    const struct {
        const char* address;
        const char* expected;
    } cases[] = {
        // What the search pages write for marketplace items.
        {"//item.taobao.com/item.htm?id=1&ns=1", "http://item.taobao.com/item.htm?id=1&ns=1"},
        {"//detail.tmall.com/item.htm?id=2", "http://detail.tmall.com/item.htm?id=2"},
        // A host without the slashes.
        {"detail.tmall.com/item.htm?id=3", "http://detail.tmall.com/item.htm?id=3"},
        {"item.taobao.com:8080/item.htm", "http://item.taobao.com:8080/item.htm"},
        // Schemes of any case and kind stay.
        {"https://detail.tmall.com/item.htm?id=4", "https://detail.tmall.com/item.htm?id=4"},
        {"http://item.taobao.com/item.htm?id=5", "http://item.taobao.com/item.htm?id=5"},
        {"HTTP://ITEM.TAOBAO.COM/", "HTTP://ITEM.TAOBAO.COM/"},
        {"svn+ssh://host/x", "svn+ssh://host/x"},
        // Not schemes: nothing before "://", a digit first, a space inside.
        {"://x", "http://://x"},
        {"1http://x", "http://1http://x"},
        {"ht tp://x", "http://ht tp://x"},
        // "://" later in a query is no scheme either.
        {"//item.taobao.com/r?to=http://x", "http://item.taobao.com/r?to=http://x"},
        // A path alone names no host; the empty text stays empty.
        {"/item.htm?id=6", "/item.htm?id=6"},
        {"", ""},
        // GBK bytes are carried as they are.
        {"//s.taobao.com/search?q=\xC3\xAB\xD2\xC2",
         "http://s.taobao.com/search?q=\xC3\xAB\xD2\xC2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(normalise_address(c.address), c.expected) << c.address;
}

}  // namespace
