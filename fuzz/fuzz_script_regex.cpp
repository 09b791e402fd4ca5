// The script expression over search pages: the item pattern must find the same
// matches on its fast route, on the linear-time engine alone and on the
// backtracking engine. Expressions from the input only have to compile and run.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "harvest/item_search_harvest.h"
#include "runtime/script_regex.h"

namespace {

const ScriptPattern& item_pattern(ScriptRegexEngine engine) {
    static const auto linear =
        script_pattern_compile(kItemPattern, ScriptRegexOptions{}, ScriptRegexEngine::linear);
    static const auto backtracking =
        script_pattern_compile(kItemPattern, ScriptRegexOptions{}, ScriptRegexEngine::backtracking);
    FUZZ_CHECK(linear && backtracking);
    return engine == ScriptRegexEngine::linear ? *linear : *backtracking;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] < 0xC0) {
        auto subject = std::make_shared<const Text>(rest);
        const ScriptMatchSet fast =
            script_pattern_match(item_pattern(ScriptRegexEngine::linear), subject);
        const ScriptMatchSet linear = script_pattern_match(item_pattern(ScriptRegexEngine::linear),
                                                           subject, ScriptMatchRoute::linear_only);
        const ScriptMatchSet backtracking =
            script_pattern_match(item_pattern(ScriptRegexEngine::backtracking), subject);
        for (const ScriptMatchSet* other : {&fast, &backtracking}) {
            FUZZ_CHECK(linear.width == other->width);
            FUZZ_CHECK(linear.spans.size() == other->spans.size());
            for (std::size_t i = 0; i < linear.spans.size(); ++i) {
                FUZZ_CHECK(linear.spans[i].begin == other->spans[i].begin);
                FUZZ_CHECK(linear.spans[i].end == other->spans[i].end);
            }
        }
        return 0;
    }
    const std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos || nul > 64 || rest.size() - nul > 256) return 0;
    ScriptRegex regex;
    regex.execute(rest.substr(0, nul), rest.substr(nul + 1));
    for (int m = 1; m <= regex.match_count(); ++m)
        FUZZ_CHECK(regex.match_text(m).size() <= rest.size());
    return 0;
}
