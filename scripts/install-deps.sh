#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests, the benchmarks and the fuzzers need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
pkgs=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config mold procps
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libasound2-dev libcurl4-openssl-dev libgsf-1-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libflac-dev libopusenc-dev libopus-dev libogg-dev flac opus-tools
  ffmpeg sox lame mpg123 libmpg123-dev xvfb xauth
  libdiscid-dev
  libtag1-dev
  pulseaudio
  libasound2-plugins
  python3 python3-olefile
  espeak-ng
  fonts-noto-cjk
  dpkg-dev fakeroot lintian appstream desktop-file-utils bash-completion man-db groff-base
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
