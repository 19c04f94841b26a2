#!/usr/bin/env bash
# CPU time of `tralux-cli convert` to MP3 beside `lame` on the same 44.1 kHz stereo file,
# best of three runs each (the machine may be shared).
# Usage: bench/mp3enc/cli_speed.sh [BUILD_DIR] [SECONDS]   (needs sox and lame)
# Prints one line per mode: ours, lame, and ours / lame (goal: at most 0.67 at 128 kbit/s).
set -euo pipefail
build=${1:-build}
seconds=${2:-120}
cli=$(cd "$build" && pwd)/cli/tralux-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Music-like: plucked notes over pink noise, a different mix in each channel.
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pluck C3 pluck E3 pinknoise \
  remix 1,3v0.3 2,3v0.2 vol 0.5
cpu() {  # best user+sys seconds of three runs of "$@"
  local best=""
  for _ in 1 2 3; do
    local t
    /usr/bin/time -o "$work/t" -f "%U %S" "$@" >/dev/null 2>&1
    t=$(awk '{print $1 + $2}' "$work/t")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$t; fi
  done
  echo "$best"
}
printf '| mode | tralux-cli s | lame s | ours / lame |\n|---|---|---|---|\n'
row() {  # label, our options, lame options
  local ours lame
  ours=$(cpu "$cli" --config "$work/cfg" convert "$work/in.wav" --format mp3 $2 --output-dir "$work/o" -y)
  lame=$(cpu lame --silent $3 "$work/in.wav" "$work/lame.mp3")
  printf '| %s | %.2f | %.2f | %.2f |\n' "$1" "$ours" "$lame" "$(awk -v a="$ours" -v b="$lame" 'BEGIN{print a / b}')"
}
row "128 kbit/s" "--bitrate 128" "-b 128"
row "192 kbit/s" "--bitrate 192" "-b 192"
row "VBR 2" "--vbr 2" "-V2"
