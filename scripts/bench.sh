#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures. Run on an idle machine.
# Usage: scripts/bench.sh ['BENCH [ARG...]']...   each bench with its arguments as one word:
#   pane [lines] | period | hexdump | find | filelog | startup [host] [period] [runs]
#   measure [datagrams] [rounds]
#   flood [count] [rounds] [hold|files|nobar|dump|list|capture|graph] | capture [budget MiB]
#   graph [replots]
#   hexdump-ir [datagrams]   instructions per dumped byte, both ways into the store (callgrind)
#   headless [flood count] [rounds] [echoes per round]   (socat for the echo's reference)
#   soak [minutes] [datagrams per second] | soak dump-flood [minutes]
#   lightload [seconds] [light] [idle] [busy] [callgrind [sends]]
# e.g. scripts/bench.sh pane 'flood 1000000 3 hold' 'flood 200000 2 dump' 'soak dump-flood 10'
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench_pane bench_period bench_flood bench_hexdump bench_soak bench_find \
    bench_filelog bench_startup bench_measure bench_lightload bench_headless bench_capture bench_graph
export QT_QPA_PLATFORM=offscreen
benches=("$@")
[ ${#benches[@]} -gt 0 ] || benches=(pane hexdump period flood find)
for run in "${benches[@]}"; do
    read -r -a words <<<"$run"
    echo "== bench_$run"
    if [ "${words[0]}" = hexdump-ir ]; then
        # Instruction counts do not depend on what else the machine runs.
        if ! command -v valgrind >/dev/null; then
            echo "needs valgrind: apt-get install valgrind"
            continue
        fi
        out=$(mktemp)
        valgrind --tool=callgrind --callgrind-out-file="$out" \
            build/bench/bench_hexdump ir "${words[1]:-2000}" 2>/dev/null
        callgrind_annotate --inclusive=yes "$out" | awk -v n="${words[1]:-2000}" '
            /bench_hexdump.cpp:.*(dumpThroughText|dumpStraightIntoStore)/ {
                gsub(",", "", $1); way = $0 ~ /Through/ ? "through text" : "straight in"
                if (!seen[way]++) printf "%-14s %8.1f instructions per dumped byte\n", way, $1 / (n * 1200) }'
        rm -f "$out"
        continue
    fi
    "build/bench/bench_${words[0]}" "${words[@]:1}"
done
