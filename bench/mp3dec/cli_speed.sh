#!/usr/bin/env bash
# CPU time of `tralux-cli convert x.mp3 --format wav` beside `mpg123 -w` on the same files,
# best of five runs each (the machine may be shared).
# Usage: bench/mp3dec/cli_speed.sh [BUILD_DIR] [SECONDS]   (needs sox, lame and mpg123)
# Prints one row per stream: ours, mpg123, ours / mpg123 (goal: at most 1.00), and the same
# ratio with our start-up time taken out.
set -euo pipefail
build=${1:-build}
seconds=${2:-120}
cli=$(cd "$build" && pwd)/cli/tralux-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Music-like: plucked notes over pink noise with a slow tremolo.
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pluck 220 pluck 330 pluck 440 \
  synth "$seconds" pinknoise mix tremolo 3 70 gain -3
sox "$work/in.wav" -r 24000 "$work/in24.wav"
lame --quiet -b 128 "$work/in.wav" "$work/s128.mp3"
lame --quiet -b 320 "$work/in.wav" "$work/s320.mp3"
lame --quiet -b 64 "$work/in24.wav" "$work/m2_64.mp3"
cpu() {  # best user+sys seconds (millisecond resolution) of five runs of "$@"
  local best="" t
  for _ in 1 2 3 4 5; do
    t=$( { TIMEFORMAT='%3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | awk '{print $1 + $2}')
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$t; fi
  done
  echo "$best"
}
# Start-up alone (loading the shared libraries the program links): part of every run.
start=$(cpu "$cli" --version)
printf '| stream | tralux-cli s | mpg123 -w s | ours / mpg123 | without start-up |\n|---|---|---|---|---|\n'
for s in s128 s320 m2_64; do
  ours=$(cpu "$cli" --config "$work/cfg" convert "$work/$s.mp3" --format wav --output-dir "$work/o" -y)
  peer=$(cpu mpg123 -q -w "$work/peer.wav" "$work/$s.mp3")
  printf '| %s | %.3f | %.3f | %.2f | %.2f |\n' "$s" "$ours" "$peer" \
    "$(awk -v a="$ours" -v b="$peer" 'BEGIN{print a / b}')" \
    "$(awk -v a="$ours" -v b="$peer" -v s="$start" 'BEGIN{print (a - s) / b}')"
done
printf 'tralux-cli start-up (--version): %.3f s\n' "$start"
