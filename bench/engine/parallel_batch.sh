#!/usr/bin/env bash
# Wall-clock time of `tralux-cli convert` over 16 WAV files to MP3 with -j 1 and -j 2, best of
# three runs each (the machine may be shared), and their ratio (goal on two cores: 1.8 or more).
# Also checks that both runs wrote the same bytes.
# Usage: bench/engine/parallel_batch.sh [BUILD_DIR] [SECONDS_PER_FILE]   (needs sox)
set -euo pipefail
build=${1:-build}
seconds=${2:-20}
cli=$(cd "$build" && pwd)/cli/tralux-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
for i in $(seq -w 1 16); do
  # Music-like and different in every file: plucked notes over pink noise.
  sox -n -r 44100 -c 2 -b 16 "$work/in/f$i.wav" synth "$seconds" pluck $((100 + 10#$i * 20)) \
    pluck $((200 + 10#$i * 25)) pinknoise remix 1,3v0.3 2,3v0.2 vol 0.5
done
wall() {  # best wall-clock seconds of three runs with -j $1
  local best=""
  for _ in 1 2 3; do
    rm -rf "$work/o$1"
    local t0 t1 t
    t0=$(date +%s.%N)
    "$cli" --config "$work/cfg" convert "$work"/in/*.wav --format mp3 --output-dir "$work/o$1" \
      -j "$1" >/dev/null 2>&1
    t1=$(date +%s.%N)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b - a}')
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$t; fi
  done
  echo "$best"
}
one=$(wall 1)
two=$(wall 2)
same=yes
for f in "$work"/o1/*.mp3; do cmp -s "$f" "$work/o2/$(basename "$f")" || same=no; done
printf 'files: 16 x %s s, load average before: %s\n' "$seconds" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %8s s\n' "-j 1" "$one" "-j 2" "$two"
printf 'ratio -j 1 / -j 2: %.2f (goal >= 1.8 on two cores); outputs identical: %s\n' \
  "$(awk -v a="$one" -v b="$two" 'BEGIN{print a / b}')" "$same"
