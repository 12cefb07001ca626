#!/usr/bin/env bash
# The README's CI recipe, run as it is written there but for 3 s instead of 30, with a headless
# echo standing in for the program under test; then the same threshold must fail once nothing
# answers, so that it cannot pass by reading nothing.
# Usage: readme_ci_recipe.sh <quillon binary>
set -euo pipefail
PATH=$(dirname "$1"):$PATH
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
cd "$(mktemp -d)"
trap 'kill $echo 2>/dev/null || true; rm -rf "$PWD"' EXIT
quillon --headless --echo --bind 127.0.0.1:20319 --peer 127.0.0.1:20320 >/dev/null &
echo=$!
# Datagrams sent before the echo is bound count nowhere: the check begins with the first echo.
threshold() {
    jq -e 'select(.event == "end")
           | ([.streams[].received] | add // 0) as $received
           | ([.streams[].lost] | add // 0) as $lost
           | $received > 0 and $lost <= 0.01 * ($received + $lost)' results.ndjson
}

quillon --headless --send --period 10 --bind 127.0.0.1:20320 --peer 127.0.0.1:20319 \
    --duration 3 --json results.ndjson
threshold

kill $echo
wait $echo
quillon --headless --send --period 10 --bind 127.0.0.1:20320 --peer 127.0.0.1:20319 \
    --duration 1 --json results.ndjson >/dev/null
if threshold; then
    echo "the threshold passed with nothing coming back"
    exit 1
fi
echo "README CI recipe: passed, and failed without an echo"
