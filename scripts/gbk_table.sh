#!/usr/bin/env bash
# Writes runtime/gbk_table.cpp (code page 936) from glibc's iconv. Run once when the mapping rules
# change; the output is kept in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
c++ -std=c++20 -O1 -Wall -Wextra -I. -o "$tmp/gbk_table_gen" scripts/gbk_table_gen.cpp
"$tmp/gbk_table_gen" >"$tmp/gbk_table.cpp"
mv "$tmp/gbk_table.cpp" runtime/gbk_table.cpp
# Laid out like every other source file, so a run with unchanged rules changes nothing.
clang-format -i runtime/gbk_table.cpp
echo "runtime/gbk_table.cpp: $(wc -c <runtime/gbk_table.cpp) bytes"
