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
# The media module is installed, and the installed program finds it there.
compgen -G "$prefix/lib*/tralux/tralux-media.so" >/dev/null \
  || compgen -G "$prefix/lib/*/tralux/tralux-media.so" >/dev/null || { echo "missing tralux-media.so"; exit 1; }
wav=$prefix/tone.wav
printf 'RIFF\x24\x10\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00data\x00\x10\x00\x00' >"$wav"
head -c 4096 /dev/zero >>"$wav"
loaded=$(env -u TRALUX_MEDIA_MODULE LD_DEBUG=files "$prefix/bin/tralux-cli" --config "$prefix/cfg" \
  convert "$wav" --format flac --output-dir "$prefix/out" 2>&1 >/dev/null | grep 'tralux-media.so' || true)
[ -s "$prefix/out/tone.flac" ] || { echo "the installed tralux-cli cannot write FLAC"; exit 1; }
case $loaded in *"$prefix"/*) ;; *) echo "the media module was not loaded from $prefix: $loaded"; exit 1 ;; esac
desktop=$prefix/share/applications/tralux.desktop
grep -qx 'Exec=tralux %f' "$desktop" || { echo "Exec line"; exit 1; }
grep -qx 'Icon=tralux' "$desktop" || { echo "Icon line"; exit 1; }
grep -q '^MimeType=.*audio/x-wav;.*audio/mpeg;' "$desktop" || { echo "MimeType line"; exit 1; }
if command -v desktop-file-validate >/dev/null 2>&1; then desktop-file-validate "$desktop"; fi
# The icon is a real PNG of its size.
head -c 8 "$prefix/share/icons/hicolor/256x256/apps/tralux.png" | od -An -tx1 | grep -q '89 50 4e 47' \
  || { echo "icon is not a PNG"; exit 1; }
echo "install ok"
