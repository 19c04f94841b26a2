#!/usr/bin/env bash
# The whole check: packages, a release build with every test, the unit tests again under
# ASan+UBSan, the threaded tests under ThreadSanitizer, and each fuzz target over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
# Several tests mostly wait (servers that never answer, child programs, pipes): one more test than
# cores keeps the processors busy. Real-time tests run alone (RUN_SERIAL) whatever this says.
test_jobs=$((jobs + 1))
# The sanitizer builds are never packaged: they link with mold, several times faster than ld,
# and compile with clang, a third faster than GCC here, their test code sharing a precompiled
# header (cmake/Tralux.cmake). The release build, the packaged one, keeps GCC and ld.
fast_link=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=mold -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=mold
  -DCMAKE_MODULE_LINKER_FLAGS=-fuse-ld=mold)
clang=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
stage_start=0 cpu_start=0 work=$(mktemp -d) builder=""
trap '[ -z "$builder" ] || kill -- -"$builder" 2>/dev/null || true; rm -rf "$work"' EXIT
# Wall time depends on what else the machine runs; the processor time (user+sys) of the
# stage's programs says what the stage itself costs. `times` must run in the shell in question
# (not in a command substitution); cpu_now sets $cpu.
cpu_now() {
  local file=$work/times.$BASHPID
  times >"$file"
  cpu=$(awk 'function sec(v, m) { m = v; sub(/m.*/, "", m); sub(/^[0-9]+m/, "", v); sub(/s$/, "", v)
    return m * 60 + v } NR == 2 { printf "%d", sec($1) + sec($2) }' "$file")
}
stage() {
  local cpu
  cpu_now
  echo "== $1 took $((SECONDS - stage_start)) s (processor time $((cpu - cpu_start)) s)"
  stage_start=$SECONDS cpu_start=$cpu
}
stage "packages"

# In CI nothing may be skipped for want of data or a reference tool (the tests fail then too).
# CI counts as set unless empty, "0" or "false" (as tests/support/require.h reads it).
case "${CI:-}" in "" | 0 | false) in_ci="" ;; *) in_ci=1 ;; esac
if [ -n "$in_ci" ]; then
  for tool in ffmpeg ffprobe lame mpg123 sox; do
    command -v "$tool" >/dev/null || { echo "CI: $tool is missing"; exit 1; }
  done
  [ -d ../shared/testdata/mp3-conformance ] || { echo "CI: ../shared/testdata is missing"; exit 1; }
fi

asan_build() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRALUX_SANITIZE=ON \
    -DTRALUX_BENCH=OFF -DTRALUX_GUI=OFF -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    "${clang[@]}" "${fast_link[@]}" >/dev/null &&
    cmake --build build-asan -j"$jobs"
}

# ThreadSanitizer over the threaded parts only: engine, CLI, settings and platform tests, the CD
# reader under the job, the CD information lookup (worker and user interface handshake, HTTP,
# cache) and its dialogs on the offscreen platform (only the targets below are built).
tsan_tests='^(engine_|platform_|app_settings_|cli_|cd_test$|cd_rip_pipeline_test$|cddb_(lookup|http|cache)_test$|app_cddb_dialogs_test$)'
# Script checks of the release programs (exported symbols) are no threaded tests.
tsan_skip='_symbols_test$'
tsan_build() {
  local list tsan_targets
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRALUX_TSAN=ON \
    -DTRALUX_BENCH=OFF -DTRALUX_GUI=ON -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    "${clang[@]}" "${fast_link[@]}" >/dev/null &&
    list=$(ctest --test-dir build-tsan -N -R "$tsan_tests" -E "$tsan_skip" |
      awk '/Test +#/ {print $3}') &&
    mapfile -t tsan_targets <<<"$list" &&
    cmake --build build-tsan -j"$jobs" --target "${tsan_targets[@]}"
}

fuzz_build() {
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRALUX_FUZZ=ON \
    -DTRALUX_TESTS=OFF -DTRALUX_BENCH=OFF -DTRALUX_GUI=OFF "${clang[@]}" >/dev/null &&
    cmake --build build-fuzz -j"$jobs" --target fuzz_targets
}

# The three builds after the release one run meanwhile, one after the other, at idle priority
# (SCHED_IDLE): they only take the processor time the stages before them leave unused (tests
# waiting on servers, pipes and child programs, tests that run alone, links) and have the whole
# machine once their stage waits for them. Each one's output is shown when its stage begins.
background_builds() {
  local part cpu cpu0 t0 rc
  for part in asan tsan fuzz; do
    # The idle policy passes on to every program the build starts (await may have lifted it).
    chrt --idle -p 0 "$BASHPID" || renice -n 19 -p "$BASHPID" >/dev/null
    cpu_now
    cpu0=$cpu t0=$SECONDS
    if "${part}_build" >"$work/$part.log" 2>&1; then rc=0; else rc=$?; fi
    cpu_now
    echo "== $part build (in the background) took $((SECONDS - t0)) s" \
      "(processor time $((cpu - cpu0)) s)" >>"$work/$part.log"
    echo "$rc" >"$work/$part.rc"
    [ "$rc" = 0 ] || return "$rc"
  done
}
# Its own process group, so that an early exit stops it with all its compilers.
set -m
background_builds &
builder=$!
set +m

await() {
  local pid
  # Waited for, the build runs at normal priority: on a machine shared with other work, idle
  # priority would leave it only what that work leaves.
  if [ ! -e "$work/$1.rc" ]; then
    for pid in $(pgrep -g "$builder"); do chrt --other -p 0 "$pid" 2>/dev/null || true; done
  fi
  while [ ! -e "$work/$1.rc" ]; do
    kill -0 "$builder" 2>/dev/null || { echo "the background builds ended early"; exit 1; }
    sleep 1
  done
  cat "$work/$1.log"
  [ "$(cat "$work/$1.rc")" = 0 ] || { echo "$1 build failed"; exit 1; }
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$test_jobs"
stage "release build and tests"

await asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$test_jobs" -LE slow
stage "ASan+UBSan build (rest of it) and tests"

await tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j"$test_jobs" -R "$tsan_tests" -E "$tsan_skip" -LE slow
stage "ThreadSanitizer build (rest of it) and tests"

await fuzz
# Reaped now, the background builds' processor time goes to a line of its own.
wait "$builder"
builder=""
stage "rest of the fuzz build (processor time: the three background builds)"
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=fuzz/corpus/${name#fuzz_}
  mkdir -p "$corpus"
  "$f" -runs=0 "$corpus" >/dev/null 2>&1 || { echo "fuzz regression failed: $name"; "$f" -runs=0 "$corpus"; exit 1; }
  echo "fuzz corpus ok: $name"
done
stage "fuzz corpora"
cpu_now
echo "== the whole check took $SECONDS s (processor time $cpu s, the background builds' included)"
