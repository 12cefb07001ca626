#!/usr/bin/env bash
# Validates the desktop entry and the metainfo, builds the .deb, checks it with lintian, unpacks
# it into a scratch root and checks that everything lands where a desktop looks for it.
# Usage: check_package.sh <source dir> <build dir>
set -euo pipefail
src=$1
build=$2
id=org.quillon.Quillon
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

desktop-file-validate "$src/dist/$id.desktop"
appstreamcli validate --no-net "$build/dist/$id.metainfo.xml"

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
deb=$(echo "$scratch"/out/quillon_*.deb)
lintian --fail-on error "$deb"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-ipafont-gothic qt6-translations-l10n libqt6widgets6 libqt6network6 libc6 \
    libqcustomplot2.1-qt6; do
    grep -q "\b$needed\b" <<<"$depends" || { echo "Depends lacks $needed: $depends"; exit 1; }
done

dpkg -x "$deb" "$scratch/root"
for file in usr/bin/quillon usr/share/applications/$id.desktop \
    usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/metainfo/$id.metainfo.xml \
    usr/share/doc/quillon/copyright usr/share/doc/quillon/changelog.gz \
    usr/share/man/man1/quillon.1.gz usr/share/bash-completion/completions/quillon; do
    [ -s "$scratch/root/$file" ] || { echo "missing from the package: $file"; exit 1; }
done
[ -x "$scratch/root/usr/bin/quillon" ] || { echo "usr/bin/quillon is not executable"; exit 1; }
# The entry must start what the package installs, and name the icon it installs.
grep -qx "Exec=quillon" "$scratch/root/usr/share/applications/$id.desktop"
grep -qx "Icon=$id" "$scratch/root/usr/share/applications/$id.desktop"
# bash-completion loads the file named after the command and expects it to complete that command.
completion=$scratch/root/usr/share/bash-completion/completions/quillon
bash -n "$completion"
grep -q "complete -F _quillon quillon" "$completion"
# The packaged binary answers --version without a display, with the package's own version and
# the licence it is distributed under, as the copyright file and the metainfo give it.
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/root/usr/bin/quillon" --version)
[ "$(head -n 1 <<<"$version")" = "quillon $(dpkg-deb -f "$deb" Version)" ] || { echo "--version says: $version"; exit 1; }
licence=GPL-3.0-or-later
grep -q "$licence" <<<"$version" || { echo "--version names no $licence: $version"; exit 1; }
grep -qx "License: $licence" "$scratch/root/usr/share/doc/quillon/copyright"
grep -q "<project_license>$licence</project_license>" "$scratch/root/usr/share/metainfo/$id.metainfo.xml"
echo "package checks passed: $(basename "$deb")"
