#!/usr/bin/env bash
# Man pages render cleanly and name every option the usage texts print; the desktop entry and
# the AppStream metadata pass their validators.
# usage: docs_test.sh TRALUX_CLI MAN_DIR [DESKTOP_FILE METAINFO_FILE]
set -uo pipefail
cli=$1 mandir=$2 desktop=${3:-} metainfo=${4:-}
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
need() { command -v "$1" >/dev/null || { echo "FAIL: $1 is missing (scripts/install-deps.sh installs it)"; exit 1; }; }
need man

for page in "$mandir"/*.1; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings:"$'\n'"$warnings"
done

# Options as the usage texts print them; "--flag" is the usage text's own placeholder.
usage=$("$cli" --help; "$cli" cd 2>&1)
mapfile -t options < <(grep -oE -- '(^|[][ |,(])(--?[a-z][a-z0-9-]*)' <<<"$usage" |
    sed -E 's/^[][ |,(]//' | grep -vx -- '--flag' | sort -u)
((${#options[@]} > 20)) || fail "only ${#options[@]} options found in the usage texts"
# The page's text with roff escapes undone, so "\-\-rate" reads "--rate".
page_text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$mandir/tralux-cli.1")
for opt in "${options[@]}"; do
    grep -qE -- "(^|[^a-z0-9-])${opt}([^a-z0-9-]|$)" <<<"$page_text" ||
        fail "docs/man/tralux-cli.1 does not describe $opt (printed by tralux-cli --help or tralux-cli cd)"
done
for word in TRALUX_AUDIO_DEVICE TRALUX_CD_IMAGES TRALUX_CD_JITTER TRALUX_CACHE_DIR tralux.ini cache.dat \
    'EXIT STATUS' ENVIRONMENT FILES EXAMPLES; do
    grep -qF -- "$word" <<<"$page_text" || fail "docs/man/tralux-cli.1 lacks $word"
done

if [ -n "$desktop" ]; then
    need desktop-file-validate
    need appstreamcli
    desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
    out=$(appstreamcli validate --no-net --explain "$metainfo" 2>&1) || fail "appstreamcli validate:"$'\n'"$out"
fi
((fails == 0)) && echo "ok: ${#options[@]} options documented"
((fails == 0))
