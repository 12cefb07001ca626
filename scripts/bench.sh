#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures. Run on an idle machine.
# Usage: scripts/bench.sh ['BENCH [ARG...]']...   each bench with its arguments as one word:
#   pane [lines] | period | hexdump | find | filelog | startup [host] [period] [runs]
#   measure [datagrams] [rounds]
#   flood [count] [rounds] [hold|files|nobar|graph] | graph [replots]
#   soak [minutes] [datagrams per second] | soak dump-flood [minutes]
# e.g. scripts/bench.sh pane 'flood 1000000 3 hold' 'soak dump-flood 10'
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench_pane bench_period bench_flood bench_hexdump bench_soak bench_find \
    bench_filelog bench_startup bench_measure bench_graph
export QT_QPA_PLATFORM=offscreen
benches=("$@")
[ ${#benches[@]} -gt 0 ] || benches=(pane hexdump period flood find)
for run in "${benches[@]}"; do
    read -r -a words <<<"$run"
    echo "== bench_$run"
    "build/bench/bench_${words[0]}" "${words[@]:1}"
done
