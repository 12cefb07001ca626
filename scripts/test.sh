#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice, once in a plain build and
# once under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, and runs the
# fuzzers for a minute each. The tests run in an empty home of their own and must leave it empty.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
jobs=$(nproc)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DQUILLON_WERROR=ON "$@"
    cmake --build "$dir" -j "$jobs"
    # The user's home is never touched: settings, caches and the file dialogs' history would
    # land in this one, and whatever does is a fault. The runtime folder is outside it, as a
    # session's is.
    local home=$scratch/home-$dir runtime=$scratch/runtime-$dir
    mkdir -m 700 "$home" "$runtime"
    HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache \
        XDG_DATA_HOME=$home/.local/share XDG_STATE_HOME=$home/.local/state \
        XDG_RUNTIME_DIR=$runtime \
        ctest --test-dir "$dir" --output-on-failure -j "$jobs"
    local left
    left=$(find "$home" -mindepth 1)
    if [ -n "$left" ]; then
        echo "the tests in $dir wrote into their home folder:" >&2
        echo "$left" >&2
        exit 1
    fi
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
