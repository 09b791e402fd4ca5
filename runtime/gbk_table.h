#pragma once
// Code page 936 as data (runtime/gbk_table.cpp, written by scripts/gbk_table.sh from iconv).
#include <cstddef>
#include <cstdint>

// Pairs are lead 0x81..0xFE by trail 0x40..0xFE; trail 0x7F counts too, so a cell's index is
// (lead - 0x81) * kGbkTrailCount + (trail - 0x40).
constexpr int kGbkTrailCount = 191;
constexpr std::size_t kGbkPairCells = 126 * kGbkTrailCount;
// Marks a run in the cell stream: kGbkRun, a count, then the first of that many consecutive
// characters. U+FFFF is no character, so no cell holds it.
constexpr std::uint16_t kGbkRun = 0xFFFF;

// The character of the single byte 0x80.
extern const char16_t kGbkSingle0x80;
// Every pair's character in index order (0 for a pair that is no character), runs folded.
extern const std::uint16_t kGbkCells[];
extern const std::size_t kGbkCellCount;
