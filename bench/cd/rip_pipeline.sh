#!/usr/bin/env bash
# cd rip to MP3 on an image drive paced to a CD speed: the time of reading alone (a rip to WAV),
# the rip with reading ahead of the encoders, the one-track-at-a-time rip, and the ratio
# pipelined / (reading + the last track's encoding) (goal <= 1.0). Also checks that the
# pipelined and serial rips wrote the same bytes.
# Usage: bench/cd/rip_pipeline.sh [BUILD_DIR] [SPEED] [TRACKS] [SECONDS_PER_TRACK]   (needs sox)
set -euo pipefail
build=${1:-build}
speed=${2:-8}
tracks=${3:-6}
seconds=${4:-40}
cli=$(cd "$build" && pwd)/cli/tralux-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/cfg/Quorvatix"
printf '[CDDB]\nNeverUseCDDB=1\n' >"$work/cfg/Quorvatix/tralux.ini"
# Music-like and different in every track: plucked notes over pink noise, whole sectors.
cue="$work/disc.cue"
printf 'FILE "disc.bin" BINARY\n' >"$cue"
for i in $(seq 1 "$tracks"); do
  sox -n -r 44100 -c 2 -b 16 -e signed -L -t raw "$work/t$i.raw" synth "$seconds" \
    pluck $((100 + i * 20)) pluck $((200 + i * 25)) pinknoise remix 1,3v0.3 2,3v0.2 vol 0.5
  cat "$work/t$i.raw" >>"$work/disc.bin"
  start=$(((i - 1) * seconds))
  printf '  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:00\n' "$i" $((start / 60)) $((start % 60)) >>"$cue"
done
rm -f "$work"/t*.raw
run() {  # wall-clock seconds of one command
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN{print b - a}'
}
rip() {  # folder, then cd rip's options
  local dir=$1
  shift
  rm -rf "${work:?}/$dir"
  run /usr/bin/time -f %M -o "$work/$dir.rss" env -u TRALUX_CD_JITTER TRALUX_CD_IMAGES="$cue" \
    TRALUX_CD_SPEED="$speed" TRALUX_CACHE_DIR="$work/cache" "$cli" --config "$work/cfg" cd rip \
    --output-dir "$work/$dir" "$@"
}
rss() { echo $(($(tail -1 "$work/$1.rss") / 1024)); }  # the largest resident size in MiB
read=$(rip wav --format wav)
last=$(ls "$work"/wav/*.wav | sort | tail -1)
encode=$(run "$cli" --config "$work/cfg" convert "$last" --format mp3 --output-dir "$work/last" -j 1)
pipelined=$(rip ahead --format mp3)
serial=$(rip serial --format mp3 -j 1)
# The memory bound: with 8 MiB allowed, the read-ahead goes to the spill file.
small=$(TRALUX_CD_HOLD_MB=8 rip small --format mp3)
same=yes
for f in "$work"/serial/*.mp3; do
  cmp -s "$f" "$work/ahead/$(basename "$f")" || same=no
  cmp -s "$f" "$work/small/$(basename "$f")" || same=no
done
printf 'disc: %s tracks x %s s at %sx, load average before: %s\n' "$tracks" "$seconds" "$speed" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-28s %8.2f s\n' "reading alone (rip to WAV)" "$read" "last track's encoding" "$encode" \
  "pipelined rip to MP3" "$pipelined" "serial rip to MP3 (-j 1)" "$serial" \
  "pipelined, 8 MiB held" "$small"
printf 'largest resident size: pipelined %s MiB, serial %s MiB, pipelined with 8 MiB held %s MiB\n' \
  "$(rss ahead)" "$(rss serial)" "$(rss small)"
printf 'ratio pipelined / (reading + last encoding): %.2f (goal <= 1.0); outputs identical: %s\n' \
  "$(awk -v p="$pipelined" -v r="$read" -v e="$encode" 'BEGIN{print p / (r + e)}')" "$same"
