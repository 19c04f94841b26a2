#!/usr/bin/env bash
# Runs a GUI test on its own virtual X server. Without xvfb-run the test is skipped on a
# developer machine and fails under CI.
set -euo pipefail
if ! command -v xvfb-run >/dev/null 2>&1; then
  if [ -n "${CI:-}" ]; then echo "xvfb-run is missing (install xvfb)"; exit 1; fi
  echo "xvfb-run not installed: skipped"; exit 0
fi
export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$@"
