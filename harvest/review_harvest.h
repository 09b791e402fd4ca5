#pragma once
// The review and buyer harvest: works through the item addresses of the URL list, decides for each
// whether it is a mall or a marketplace item, reads every review page from the matching service and
// appends the buyer IDs it finds, numbered, to the buyer list. Several workers may run at once;
// they share ReviewCursor (each URL row goes to one worker) and BuyerCounter (each number given
// once).
#include "harvest/harvest_context.h"
#include "runtime/text.h"

// The item ID of an item address: the text between the first "id=" and the first "&" after it,
// else the text after the last "id=". "id=" also matches inside longer names such as "skuId=".
Text review_item_id(std::string_view url);

// One worker, run on its own thread while ReviewRunFlag is set. It ends when the URL list is used
// up, at an address without an item ID (after telling the user), or when its run is stopped.
void review_worker(HarvestContext& ctx);

// Takes the next row of the URL list 超级列表框2_URL and advances ReviewCursor past it in one
// atomic step, so no two workers get the same row; -1 when the list is used up.
int claim_review_row(Window& window, ProgramValues& values);
