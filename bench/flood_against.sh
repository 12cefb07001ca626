#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The flood benchmark of this tree beside the same benchmark built from another commit, in one
# run: rounds alternate between the two, the order swapped every round so that neither always
# goes first, and the end prints each round's share logged by the window and this tree's share
# over the other's. The other commit is exported, never checked out.
# Usage: bench/flood_against.sh COMMIT [count] [rounds]
# e.g. bench/flood_against.sh 41d7fa6^ 300000 3   (the engine before the link was measured)
# The flood binds the tool's fixed ports: as root, `unshare -n` keeps it from other runs.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { sed -n 's/^# Usage: //p' "$0" >&2; exit 2; }
base=$1
count=${2:-300000}
rounds=${3:-3}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillon-flood-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/tree"
git archive "$base" | tar -x -C "$scratch/tree"
for tree in "$scratch/tree" .; do
    build=$([ "$tree" = . ] && echo build || echo "$scratch/build")
    cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target bench_flood >/dev/null
done

export QT_QPA_PLATFORM=offscreen
# The window's share logged in one round of a binary's plain run: logged over sent.
share() {
    "$1" "$count" 1 | awk '$1 == "window" && $2 ~ /^[0-9]+$/ { printf "%.4f", $4 / $3 }'
}
printf '%-6s %12s %12s %8s\n' round this "$base" ratio
ratios=()
for r in $(seq 1 "$rounds"); do
    if [ $((r % 2)) -eq 1 ]; then
        this=$(share build/bench/bench_flood)
        other=$(share "$scratch/build/bench/bench_flood")
    else
        other=$(share "$scratch/build/bench/bench_flood")
        this=$(share build/bench/bench_flood)
    fi
    ratio=$(awk -v a="$this" -v b="$other" 'BEGIN { printf "%.4f", a / b }')
    ratios+=("$ratio")
    printf '%-6s %12s %12s %8s\n' "$r" "$this" "$other" "$ratio"
done
printf '%s\n' "${ratios[@]}" | sort -n | awk '{ v[NR] = $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "median ratio %.4f\n", m }'
