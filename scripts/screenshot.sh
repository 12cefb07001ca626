#!/usr/bin/env bash
# Takes the README's pictures under Xvfb:
# - docs/screenshot.png: the tool sending with Dump on while a peer echoes every datagram back,
#   so that both panes and the link figures fill;
# - docs/pair.png: two copies on one machine, each the other's peer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh screenshot
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quillon

pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
exec 3< <(Xvfb -displayfd 1 -screen 0 900x520x24 -nolisten tcp -noreset 2>/dev/null)
read -r display <&3
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
pids+=($(pgrep -n Xvfb))
# A client that connects in the first moments of the server draws its text unsmoothed.
sleep 1

# Waits for a visible window whose title matches $1 and prints its id.
window() {
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1 && return 0
        sleep 0.2
    done
    echo "no window named $1" >&2
    return 1
}

# The echo peer sends every datagram straight back to the tool.
socat UDP4-RECVFROM:20319,bind=127.0.0.1,fork UDP4-SENDTO:127.0.0.1:20320 &
pids+=($!)
build/app/quillon &
pids+=($!)
single=$(window '^Quillon2-1\(UDP\)$')
xdotool windowfocus --sync "$single"
sleep 0.5
# Tab to "送信" and press it, then Tab on to "ダンプする" and check it.
xdotool key --clearmodifiers Tab space Tab Tab Tab space
sleep 6
mkdir -p docs
# From the root window: the window's own image sometimes comes without its fonts smoothed.
geometry=$(xdotool getwindowgeometry "$single" | sed -n 's/.*Geometry: //p')
import -window root -crop "${geometry}+0+0" docs/screenshot.png
echo "wrote docs/screenshot.png"
# socat's forked children hold 20319 too.
kill "${pids[@]:1}"
pkill -f 'socat UDP4-RECVFROM:20319' || true
wait "${pids[@]:1}" 2>/dev/null || true
pids=("${pids[0]}")

build/app/quillon --period 200 --send &
pids+=($!)
first=$(window '^Quillon2-1\(UDP\)$')
build/app/quillon --bind 20319 --peer localhost:20320 --period 300 --send &
pids+=($!)
second=$(window '^Quillon2-1\(UDP\) ')
xdotool windowmove "$first" 0 0 windowmove "$second" 450 0
sleep 5
geometry=$(xdotool getwindowgeometry "$second" | sed -n 's/.*Geometry: //p')
import -window root -crop "884x${geometry#*x}+0+0" docs/pair.png
echo "wrote docs/pair.png"
