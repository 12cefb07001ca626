#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures. Run on an idle machine.
# Usage: scripts/bench.sh [pane|period|flood|hexdump|soak|find]...
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench_pane bench_period bench_flood bench_hexdump bench_soak bench_find
export QT_QPA_PLATFORM=offscreen
for bench in "${@:-pane hexdump period flood find}"; do
    for b in $bench; do
        echo "== bench_$b"
        "build/bench/bench_$b"
    done
done
