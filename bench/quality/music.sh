#!/usr/bin/env bash
# music.sh [BUILD_DIR] [WORKDIR] [bench_quality options...]
# Our MP3 encoder beside lame on real music: six fixed 10 s excerpts of Debian's game soundtracks
# (orchestral, electronic, blues), graded with PEAQ as encoded and level-matched, at 128 and
# 192 kbit/s and at VBR 2 beside lame -V2. Installs the soundtrack packages it lacks from Debian's
# archive; the excerpts are cut at run time into WORKDIR and never kept in the repository.
# Options after WORKDIR replace the defaults (-r 128,192 -m 1 -v 2), e.g. `-r 128 -m 1`.
# A benchmark: several minutes of PEAQ, not for CI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
work=${2:-/tmp/tralux_music_$$}
shift $(($# < 2 ? $# : 2))
if [ -n "${CI:-}" ]; then
  echo "music.sh: a benchmark, not run in CI" >&2
  exit 1
fi
bench=$build/bench/quality/bench_quality
[ -x "$bench" ] || { echo "music.sh: build bench_quality first ($bench)" >&2; exit 2; }

# kind | package | file | offset in seconds. Fixed, so that runs stay comparable: change a row
# only together with the results it was measured with.
excerpts=(
  "orchestral|wesnoth-1.16-music|/usr/share/games/wesnoth/1.16/data/core/music/battle-epic.ogg|20"
  "orchestral|wesnoth-1.16-music|/usr/share/games/wesnoth/1.16/data/core/music/the_dangerous_symphony.ogg|60"
  "electronic|lincity-ng-data|/usr/share/games/lincity-ng/music/default/01 - pronobozo - lincity.ogg|60"
  "electronic|extremetuxracer-data|/usr/share/games/etr/music/freezingpoint.ogg|30"
  "blues|lincity-ng-data|/usr/share/games/lincity-ng/music/default/02 - Robert van Herk - City Blues.ogg|30"
  "blues|lincity-ng-data|/usr/share/games/lincity-ng/music/default/02 - Robert van Herk - City Blues.ogg|120"
)

missing=()
for p in lame ffmpeg sox $(printf '%s\n' "${excerpts[@]}" | cut -d'|' -f2 | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "music.sh: installing ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}" >/dev/null
fi

mkdir -p "$work"
files=()
echo "| excerpt | kind | file | from | sha256 of the cut |"
echo "|---|---|---|---|---|"
for row in "${excerpts[@]}"; do
  IFS='|' read -r kind _ file offset <<<"$row"
  stem=$(basename "$file" .ogg | tr -c 'A-Za-z0-9\n' '-' | tr -s '-' | tr 'A-Z' 'a-z')
  wav="$work/$kind-${stem#-}-${offset}s.wav"
  # Seeking after the input is sample-exact; no dither, so every run cuts the same samples.
  ffmpeg -v error -y -i "$file" -ss "$offset" -t 10 -ar 44100 -ac 2 -c:a pcm_s16le \
    -map_metadata -1 -fflags +bitexact -flags:a +bitexact "$wav"
  echo "| $(basename "$wav" .wav) | $kind | $(basename "$file") | $offset s | $(sha256sum "$wav" | cut -c1-12) |"
  files+=("$wav")
done
echo

[ $# -gt 0 ] || set -- -r 128,192 -m 1 -v 2
list=$(printf '%s,' "${files[@]}")
"$bench" -w "$work" -f "${list%,}" "$@"
