#!/usr/bin/env bash
# Runs one fuzzer from the kept corpus; new inputs land in a scratch directory, so the corpus
# in the repository only changes when someone copies a finding into it.
# Usage: run_fuzzer.sh <fuzzer> <corpus> [libFuzzer options]
set -euo pipefail
fuzzer=$1
corpus=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$fuzzer" "$@" -print_final_stats=1 "$scratch" "$corpus"
