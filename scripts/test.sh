#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice, once in a plain build and
# once under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, and runs the
# fuzzers for a minute each.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
jobs=$(nproc)

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DQUILLON_WERROR=ON "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# LeakSanitizer runs too, in the tests and in every copy of the binary they start.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON

# The fuzzers: clang with libFuzzer, each for a bounded time from the corpus in tests/fuzz.
run_suite build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUILLON_FUZZ=ON
