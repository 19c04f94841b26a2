#!/usr/bin/env bash
# Digest of every stream `tralux-cli convert` makes from a fixed set of signals and MP3 modes, so
# that a speed-only change can be shown to leave the output byte for byte the same:
#   bench/mp3enc/stream_digests.sh build-before > before.txt
#   bench/mp3enc/stream_digests.sh build > after.txt && diff before.txt after.txt
# Usage: bench/mp3enc/stream_digests.sh [BUILD_DIR] [SECONDS]   (needs sox)
set -euo pipefail
build=${1:-build}
seconds=${2:-6}
cli=$(cd "$build" && pwd)/cli/tralux-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
s=$seconds
# -R: sox's noise generators repeat from run to run.
gen() { sox -R -n -r "${R:-44100}" -c "${C:-2}" -b 16 "$work/$1.wav" synth "${@:2}"; }
gen strings "$s" pluck C3 pluck E3 pinknoise remix 1,3v0.3 2,3v0.2 vol 0.5
gen sweep "$s" sine 20-20000 sine 30-18000 vol 0.7
gen tones "$s" sine 440 sine 3000 tremolo 6 60 vol 0.6
gen white "$s" whitenoise vol 0.3
gen quiet "$s" pluck A2 pinknoise remix 1,2v0.1 1v0.05,2 vol 0.01
gen bursts "$s" square 2 sine 880 remix 1v0.4,2 1v0.2,2v0.5 vol 0.8
R=48000 C=1 gen mono48 "$s" pluck G3 brownnoise remix 1,2v0.3 vol 0.6
R=32000 gen strings32 "$s" pluck D3 pluck A3 pinknoise remix 1,3v0.3 2,3v0.2 vol 0.5
R=22050 gen strings22 "$s" pluck C3 pluck E3 pinknoise remix 1,3v0.3 2,3v0.2 vol 0.5
modes=("--bitrate 128" "--bitrate 192" "--vbr 2" "--bitrate 64" "--bitrate 96" "--bitrate 112"
  "--bitrate 160" "--bitrate 320"
  "--vbr 0" "--vbr 5" "--vbr 9")
for f in "$work"/*.wav; do
  name=$(basename "$f" .wav)
  for m in "${modes[@]}"; do
    rm -rf "$work/o"
    # Rates a sample rate does not take are skipped, not counted.
    if "$cli" --config "$work/cfg" convert "$f" --format mp3 $m --no-tags --output-dir "$work/o" \
      -y >/dev/null 2>&1; then
      echo "$name ${m// /=} $(md5sum <"$work/o/$name.mp3" | cut -d' ' -f1)"
    else
      echo "$name ${m// /=} (refused)"
    fi
  done
done
