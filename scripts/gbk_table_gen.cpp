// Writes runtime/gbk_table.cpp from glibc's iconv: code page 936 as a compact stream of numbers.
// Built and run by scripts/gbk_table.sh; the output is kept in the repository, so the program
// itself never needs iconv.
//
// Mapping rules: glibc's "GBK" is code page 936 (0x80 is the euro sign). Its user-defined areas,
// which code page 936 maps to the private use area, come from glibc's GB18030, which places them
// the same way.
#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/gbk_table.h"

namespace {

struct Converter {
    iconv_t cd;
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }

    // The bytes iconv makes of the input; false when it refuses any of it.
    bool run(std::string in, std::string& out) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char buffer[64];
        char* src = in.data();
        char* dst = buffer;
        std::size_t src_left = in.size();
        std::size_t dst_left = sizeof buffer;
        if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1))
            return false;
        out.assign(buffer, dst);
        return true;
    }
};

// One code point from UTF-32LE bytes; 0 unless exactly one character in the basic plane.
char32_t single_unit(const std::string& utf32) {
    if (utf32.size() != 4) return 0;
    const auto* u = reinterpret_cast<const unsigned char*>(utf32.data());
    const char32_t cp = static_cast<char32_t>(u[0] | u[1] << 8 | u[2] << 16 | u[3] << 24);
    return cp <= 0xFFFF ? cp : 0;
}

}  // namespace

int main() {
    Converter gbk("UTF-32LE", "GBK");
    Converter gb18030("UTF-32LE", "GB18030");
    if (!gbk.ok() || !gb18030.ok()) {
        std::fprintf(stderr, "iconv lacks GBK or GB18030\n");
        return 1;
    }
    std::string out;
    char32_t single_0x80 = gbk.run("\x80", out) ? single_unit(out) : 0;

    std::vector<std::uint16_t> pair_to_unit(kGbkPairCells, 0);
    std::array<int, 0x10000> users{};
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
            char32_t cp = 0;
            if (gbk.run(pair, out)) {
                cp = single_unit(out);
            } else if (gb18030.run(pair, out)) {
                cp = single_unit(out);
                if (cp < 0xE000 || cp > 0xF8FF) cp = 0;
            }
            if (cp == 0) continue;
            pair_to_unit[static_cast<std::size_t>((lead - 0x81) * kGbkTrailCount +
                                                  (trail - 0x40))] = static_cast<std::uint16_t>(cp);
            ++users[cp];
        }
    }
    if (single_0x80 != 0) ++users[single_0x80];

    // The table holds one code per character; a character reachable from two byte sequences would
    // need the encoding direction spelled out, so it stops the generator instead.
    for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
        if (users[cp] < 2) continue;
        std::fprintf(stderr, "U+%04X has two byte sequences\n", static_cast<unsigned>(cp));
        return 1;
    }

    // One stream of 16-bit numbers in table order: a character (0 for an empty cell), or kGbkRun,
    // a count and the first of that many consecutive characters.
    std::vector<unsigned> stream;
    for (std::size_t i = 0; i < pair_to_unit.size();) {
        std::size_t n = 1;
        while (pair_to_unit[i] != 0 && i + n < pair_to_unit.size() &&
               pair_to_unit[i + n] == pair_to_unit[i] + n)
            ++n;
        if (n >= 3) {
            stream.insert(stream.end(), {kGbkRun, static_cast<unsigned>(n), pair_to_unit[i]});
        } else {
            n = 1;
            stream.push_back(pair_to_unit[i]);
        }
        i += n;
    }

    std::printf(
        "// Code page 936, written by scripts/gbk_table.sh from glibc's iconv. Do not edit: "
        "change\n"
        "// the generator and run it again.\n"
        "#include \"runtime/gbk_table.h\"\n\n");
    std::printf("const char16_t kGbkSingle0x80 = 0x%04X;\n\n", static_cast<unsigned>(single_0x80));
    std::printf("const std::uint16_t kGbkCells[] = {");
    for (std::size_t i = 0; i < stream.size(); ++i)
        std::printf("%s%u,", i % 14 == 0 ? "\n    " : " ", stream[i]);
    std::printf("\n};\nconst std::size_t kGbkCellCount = %zu;\n", stream.size());
    return 0;
}
