#!/usr/bin/env bash
# Builds and tests the core alone (no window) in build-core/, then proves nothing there touches Qt:
# no compile line names a Qt header folder and no program or library links a Qt library.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-core}

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMBRA_BUILD_APP=OFF >/dev/null
cmake --build "$dir" -j2
(cd "$dir" && ctest --output-on-failure -j2 --timeout 900)

fail=0
if grep -qi 'qt6\|qtcore\|qtwidgets' "$dir/compile_commands.json"; then
    echo "core build: a compile line names Qt:" >&2
    grep -io '[^ ]*qt6[^ ]*' "$dir/compile_commands.json" | sort -u | head >&2
    fail=1
fi
if grep -rqi 'libQt6\|Qt6::' --include=link.txt "$dir"; then
    echo "core build: a link line names Qt:" >&2
    grep -rli 'libQt6\|Qt6::' --include=link.txt "$dir" >&2
    fail=1
fi
while IFS= read -r -d '' exe; do
    if ldd "$exe" 2>/dev/null | grep -q 'libQt6'; then
        echo "core build: $exe loads Qt" >&2
        fail=1
    fi
done < <(find "$dir" -type f -perm -u+x -not -path '*/CMakeFiles/*' -print0)
[ "$fail" -eq 0 ] && echo "core build: no Qt in $(find "$dir" -type f -perm -u+x -not -path '*/CMakeFiles/*' | wc -l) programs"
exit "$fail"
