#!/usr/bin/env bash
# Takes docs/screenshot.png: the tool under Xvfb, sending with Dump on, while a peer echoes
# every datagram back, so that both panes fill.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh screenshot
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target quillon

pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
exec 3< <(Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp -noreset 2>/dev/null)
read -r display <&3
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
pids+=($(pgrep -n Xvfb))

# The echo peer sends every datagram straight back to the tool.
socat UDP4-RECVFROM:20319,bind=127.0.0.1,fork UDP4-SENDTO:127.0.0.1:20320 &
pids+=($!)
build/app/quillon &
pids+=($!)

window=""
for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --name '^Quillon2-1\(UDP\)$' 2>/dev/null | tail -n 1) && break
    sleep 0.2
done
xdotool windowfocus --sync "$window"
sleep 0.5
# Tab to "送信" and press it, then Tab on to "ダンプする" and check it.
xdotool key --clearmodifiers Tab space Tab Tab Tab space
sleep 6
mkdir -p docs
import -window "$window" docs/screenshot.png
echo "wrote docs/screenshot.png"
