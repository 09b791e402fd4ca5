#!/usr/bin/env bash
# Compiles every core source (runtime, web, harvest, store, cli) for Windows with the MinGW-w64 cross
# compiler, syntax only: no Windows libraries are at hand here, so nothing links. Library headers
# come from this machine's own (portable) ones. Needs g++-mingw-w64-x86-64-posix (not in setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=${CXX_WIN:-x86_64-w64-mingw32-g++-posix}
fail=0
for f in runtime/*.cpp web/*.cpp harvest/*.cpp store/*.cpp cli/*.cpp; do
    [ -f "$f" ] || continue
    if ! "$cxx" -std=c++20 -fsyntax-only -I. -idirafter /usr/include \
        -idirafter /usr/include/x86_64-linux-gnu -Wall -Wextra "$f"; then
        echo "windows: $f does not compile" >&2
        fail=1
    fi
done
[ "$fail" -eq 0 ] && echo "windows: every core source compiles"
exit "$fail"
