#include "store/harvested_page.h"

AnswerPage answer_page(std::int64_t run, const HarvestedPage& page) {
    AnswerPage out;
    out.run = run;
    out.source = {std::string(page.service), Text(page.address), page.page, store_time_ms()};
    out.body = page.body;
    out.items.reserve(page.items.size());
    for (const HarvestedItem& item : page.items)
        out.items.push_back({item.serial, item.address, item.item_id, item.shop_id});
    out.buyers.reserve(page.buyers.size());
    for (const HarvestedBuyer& buyer : page.buyers)
        out.buyers.push_back({buyer.serial, Text(buyer.buyer_id), Text(page.item_id)});
    return out;
}
