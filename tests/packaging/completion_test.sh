#!/usr/bin/env bash
# Tab completion of tralux-cli: what each position offers.
# usage: completion_test.sh COMPLETION_FILE CLI_DIR
set -uo pipefail
completion=$1
export PATH="$2:$PATH"
bash_completion=/usr/share/bash-completion/bash_completion
[ -r "$bash_completion" ] || { echo "FAIL: bash-completion is missing (scripts/install-deps.sh installs it)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in/sub"
touch "$work/in/a.wav" "$work/in/B.MP3" "$work/in/Track01.cda" "$work/in/notes.txt"
# A one-track image the drive list can read, and a missing one.
head -c $((2352 * 300)) /dev/zero >"$work/disc.bin"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >"$work/disc.cue"
export TRALUX_CD_IMAGES="$work/disc.cue:$work/missing.cue" TRALUX_CACHE_DIR="$work/cache"

# Prints the sorted candidates for a command line whose last word is being completed.
complete_line() {
    bash --norc -c '
        source "$1" && source "$2" || exit 1
        line=$3
        read -ra COMP_WORDS <<<"$line"
        [[ $line == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
        cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
        _tralux_cli tralux-cli "$cur" "$prev"
        printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
    ' _ "$bash_completion" "$completion" "$1"
}

fails=0
expect() {
    local got
    got=$(complete_line "$1")
    [ "$got" = "$2" ] || { echo "FAIL: '$1' completes to '$got', expected '$2'"; fails=$((fails + 1)); }
}
expect 'tralux-cli ' 'cd convert formats help play probe '
expect 'tralux-cli --config /tmp c' 'cd convert '
expect 'tralux-cli --v' '--version '
expect 'tralux-cli convert x.wav --format ' 'flac mp3 opus wav wma '
expect 'tralux-cli convert x.wav --output-' '--output-dir '
expect 'tralux-cli convert x.wav --channels ' '1 2 '
expect "tralux-cli convert $work/in/" "$work/in/B.MP3 $work/in/Track01.cda $work/in/a.wav $work/in/sub "
expect "tralux-cli play $work/in/a" "$work/in/a.wav "
expect 'tralux-cli cd ' 'list rip '
expect 'tralux-cli cd rip --no' '--no-cddb --no-tags '
expect 'tralux-cli cd rip --tracks 1-3 --ji' '--jitter '
# Letters as `cd list` gives them: real drives first, then the two images.
drives=$(complete_line 'tralux-cli cd rip --drive ')
[[ $drives =~ ^([D-Z] )*$ && $drives == *"D "*"E "* ]] ||
    { echo "FAIL: --drive completes to '$drives'"; fails=$((fails + 1)); }
# Tab must not leave the disc's default titles in the user's cache.
[ -z "$(ls -A "$work/cache" 2>/dev/null)" ] ||
    { echo "FAIL: --drive completion wrote to the CD information cache"; fails=$((fails + 1)); }
((fails == 0)) && echo ok
((fails == 0))
