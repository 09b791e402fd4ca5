// Answers as the marketplace may send them: every body, status and address is classified without
// fault, an answer holding its marker is always Marked, and a challenge address found is absolute.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "harvest/answer_kind.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    // Byte 0: the status class; byte 1: where the reached address ends and the body begins.
    static const int kStatuses[] = {0, 200, 302, 403, 429, 500, 503, 204};
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::size_t split = data[1] % (rest.size() + 1);
    Answer answer;
    answer.url = "https://rate.example.com/list_detail_rate.htm?itemId=1";
    answer.status = kStatuses[data[0] % 8];
    answer.reached_url = std::string(rest.substr(0, split));
    answer.body = Text(rest.substr(split));
    const std::string_view marker = "lastPage";
    const AnswerKind kind = classify_answer(answer, marker);
    if (answer.body.find(marker) != Text::npos) FUZZ_CHECK(kind == AnswerKind::Marked);
    FUZZ_CHECK(!answer_kind_text(kind).empty());
    const std::string where = challenge_address(answer);
    std::string scheme = where.substr(0, where.find("://") + 1);
    for (char& c : scheme)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    FUZZ_CHECK(where.empty() ||
               (is_challenge_address(where) && (scheme == "http:" || scheme == "https:")));
    return 0;
}
