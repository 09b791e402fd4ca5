#include "harvest/member_lookup.h"

#include "harvest/text_extract.h"
#include "harvest/url_encode.h"
#include "runtime/convert.h"
#include "web/web_request.h"

namespace {

// Longer than any 64-bit number: what lies beyond is not an ID but a changed answer.
constexpr size_t kLongestId = 20;

bool all_digits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

Text member_lookup_address(const HostSettings& hosts, std::string_view name) {
    return "http://" + hosts.member_lookup_host + Text(kMemberLookupPath) +
           "?nick=" + url_encode(name);
}

Text member_id_from_answer(std::string_view answer) {
    const Text id = extract_between(answer, kMemberIdStart, kMemberIdEnd);
    if (id.empty() || id.size() > kLongestId || !all_digits(id)) return {};
    return id;
}

Text lookup_member_id(const HostSettings& hosts, std::string_view name) {
    if (name.empty()) return {};
    return member_id_from_answer(to_text(WebRequest(member_lookup_address(hosts, name))));
}
