#!/usr/bin/env bash
# The checks after the normal suite, each in its own build folder (ccache serves what is
# unchanged): the whole suite under the address and undefined-behaviour sanitizers, the web,
# harvest and store tests under the thread sanitizer, and every fuzz target for 30 seconds from
# its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
fuzz_seconds=${ZEMBRA_FUZZ_SECONDS:-30}
# A fixed seed starts every run alike, though libFuzzer's timing still makes two runs explore apart
# (an input that breaks a target is printed whole); ZEMBRA_FUZZ_SEED=0 lets libFuzzer draw one.
fuzz_seed=${ZEMBRA_FUZZ_SEED:-1}

# Leaks reported from inside Qt WebEngine, fontconfig and udev are theirs, not ours.
suppressions=$root/scripts/sanitizer_suppressions.txt
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$suppressions:print_suppressions=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

section() { printf '\n==== %s (%s)\n' "$*" "$(date +%T)"; }
names() { for f in "$@"; do basename "$f" .cpp; done; }

section "sanitizers: address + undefined behaviour, whole suite"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMBRA_SANITIZE=ON >/dev/null
cmake --build build-asan -j2
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 900)

section "sanitizers: thread, web, harvest and store tests"
mapfile -t tsan_tests < <(names tests/web/*_test.cpp tests/harvest/*_test.cpp tests/store/*_test.cpp)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMBRA_TSAN=ON \
    -DZEMBRA_BUILD_APP=OFF >/dev/null
cmake --build build-tsan -j2 --target "${tsan_tests[@]}"
for t in "${tsan_tests[@]}"; do
    echo "-- $t"
    build-tsan/tests/"$t" --gtest_brief=1
done

section "fuzz targets, ${fuzz_seconds} s each"
mapfile -t fuzz_targets < <(names fuzz/fuzz_*.cpp)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DZEMBRA_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2 --target "${fuzz_targets[@]}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
summary=()
for t in "${fuzz_targets[@]}"; do
    # New inputs go to a scratch folder; the seeds in the repository stay as they are.
    mkdir -p "$scratch/$t"
    log=$scratch/$t.log
    if ! build-fuzz/fuzz/"$t" -max_total_time="$fuzz_seconds" -seed="$fuzz_seed" -print_final_stats=1 \
        -artifact_prefix="$scratch/$t-" "$scratch/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz target $t failed; its input:" "$scratch/$t"-*
        for a in "$scratch/$t"-*; do [ -f "$a" ] && od -c "$a" | head -20; done
        exit 1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    summary+=("$(printf '%-24s %12s execs' "$t" "$execs")")
    echo "${summary[-1]}"
done
section "fuzz summary"
printf '%s\n' "${summary[@]}"
