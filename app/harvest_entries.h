#pragma once
// The work the window's buttons start, given to the window once as one value: main() builds the
// program's own harvests, tests build theirs.
#include "app/member_id_run.h"
#include "app/workers.h"

struct HarvestEntries {
    HarvestEntry item_search;  // 按钮_采集 with 组合框1 on "关键字"
    HarvestEntry shop_items;   // 按钮_采集 with any other selection
    HarvestEntry review;       // each worker of 按钮3_批量获取
    MemberIdTask member_id;    // each row of the 按钮5 run
    int member_id_time_limit_ms = kMemberIdTimeLimitMs;
};

// The program's harvests: item search, shop items, reviews and the member lookup.
HarvestEntries program_harvests();
