#!/usr/bin/env bash
# `cmake --install` into a scratch prefix puts both programs, the desktop entry and the icons
# where a desktop's menu finds them.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tralux bin/tralux-cli share/applications/tralux.desktop \
         share/icons/hicolor/48x48/apps/tralux.png share/icons/hicolor/256x256/apps/tralux.png; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
[ -x "$prefix/bin/tralux" ] || { echo "tralux is not executable"; exit 1; }
desktop=$prefix/share/applications/tralux.desktop
grep -qx 'Exec=tralux %f' "$desktop" || { echo "Exec line"; exit 1; }
grep -qx 'Icon=tralux' "$desktop" || { echo "Icon line"; exit 1; }
grep -q '^MimeType=.*audio/x-wav;.*audio/mpeg;' "$desktop" || { echo "MimeType line"; exit 1; }
if command -v desktop-file-validate >/dev/null 2>&1; then desktop-file-validate "$desktop"; fi
# The icon is a real PNG of its size.
head -c 8 "$prefix/share/icons/hicolor/256x256/apps/tralux.png" | od -An -tx1 | grep -q '89 50 4e 47' \
  || { echo "icon is not a PNG"; exit 1; }
echo "install ok"
