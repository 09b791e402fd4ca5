// zembra.toml as a user writes it: any text is read or refused with a message naming where, and
// the values read stay in their ranges.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "web/program_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ProgramSettings settings;
    std::string error;
    if (!read_settings_text(text, "zembra.toml", settings, error)) {
        FUZZ_CHECK(error.starts_with("zembra.toml"));
        return 0;
    }
    FUZZ_CHECK(error.empty());
    for (const int workers :
         {settings.search_workers, settings.review_workers, settings.member_workers})
        FUZZ_CHECK(workers >= 1 && workers <= kMaxWorkers);
    return 0;
}
