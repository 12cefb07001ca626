#!/usr/bin/env bash
# Installs the Debian packages this project needs, only those that are missing.
# Usage: scripts/deps.sh [run|test|screenshot]
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-svg-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev libxcb1-dev
    libpcap-dev fonts-ipafont-gothic libqcustomplot-dev libqcustomplot2.1-qt6)
case "${1:-run}" in
    test) packages+=(xvfb xauth xdotool xclip imagemagick desktop-file-utils appstream dpkg-dev lintian
        clang libclang-rt-14-dev iproute2 tshark jq) ;;
    screenshot) packages+=(xvfb xauth xdotool imagemagick socat) ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
