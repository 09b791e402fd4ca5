#pragma once
// A page as a harvest hands it over (views valid during the call), turned into the page the store
// writes, which owns its texts and can outlive the call.
#include <cstdint>

#include "harvest/answer_sink.h"
#include "store/results_store.h"

// The body still views the harvest's answer; a page written later must drop or copy it.
AnswerPage answer_page(std::int64_t run, const HarvestedPage& page);
