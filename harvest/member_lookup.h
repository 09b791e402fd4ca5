#pragma once
// The numeric member ID of a Wangwang user name, asked of the marketplace's member lookup.
//
// Request: GET http://<member_lookup_host>/member/user_info.htm?nick=<name>, the name as GBK
// bytes percent-encoded like a search keyword (url_encode). It goes through WebRequest, so the
// signed-in session's cookies go along, the system proxy applies and a stopped run aborts it.
//
// Answer: a JSON object that names the member's ID as "userNumId":"<digits>". The ID is the text
// between the markers "\"userNumId\":\"" and the next "\""; anything there but decimal digits, or
// an answer without the markers, means the name was not found.
#include <string_view>

#include "runtime/text.h"
#include "web/host_settings.h"

inline constexpr std::string_view kMemberLookupPath = "/member/user_info.htm";
inline constexpr std::string_view kMemberIdStart = "\"userNumId\":\"";
inline constexpr std::string_view kMemberIdEnd = "\"";

Text member_lookup_address(const HostSettings& hosts, std::string_view name);
// The ID the answer carries; empty when it carries none.
Text member_id_from_answer(std::string_view answer);
// The member ID of a name; empty for an empty name, a failed request or an unknown name.
Text lookup_member_id(const HostSettings& hosts, std::string_view name);
