#!/usr/bin/env bash
# Every symbol of ours the media module takes from a program is exported by that program: a
# missing one would only show when the module is loaded, failing every WMA/FLAC/Opus job.
# usage: module_symbols.sh MODULE PROGRAM...
set -euo pipefail
module=$1
shift
need=$(nm -D --undefined-only "$module" | awk '{print $2}' | grep -E '^_Z[A-Z]*N6tralux' | sort -u)
[ -n "$need" ] || { echo "no symbols of ours in $module: is it the media module?"; exit 1; }
for program in "$@"; do
  missing=$(comm -23 <(echo "$need") <(nm -D --defined-only "$program" | awk '{print $3}' | sort -u))
  [ -z "$missing" ] || { echo "$program lacks:"; echo "$missing" | c++filt; exit 1; }
done
echo "ok: $(echo "$need" | wc -l) symbols"
