#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks its control fields, its contents,
# lintian's verdict, and that the unpacked programs run.
# usage: deb_test.sh BUILD_DIR VERSION
set -uo pipefail
build=$1 version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps fakeroot lintian man appstreamcli; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb="$work/out/tralux_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $(basename "$deb")"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tralux ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = sound ] || fail "Section: $(field Section)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
# Depends comes from the libraries the programs link, not from a hand-kept list.
for lib in libc6 libstdc++6 libqt6widgets6 libasound2 libavformat libcurl; do
    [[ $(field Depends) == *"$lib"* ]] || fail "Depends lacks $lib: $(field Depends)"
done
[[ $(field Description) == *"converts WAV and MP3"* && $(field Description) == *"音軌"* ]] ||
    fail "Description is not in English and Traditional Chinese"

dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
for path in /usr/bin/tralux /usr/bin/tralux-cli /usr/share/applications/tralux.desktop \
    /usr/share/icons/hicolor/48x48/apps/tralux.png /usr/share/icons/hicolor/256x256/apps/tralux.png \
    /usr/share/man/man1/tralux.1.gz /usr/share/man/man1/tralux-cli.1.gz \
    /usr/share/bash-completion/completions/tralux-cli \
    /usr/share/metainfo/com.quorvatix.Tralux.metainfo.xml \
    /usr/share/doc/tralux/copyright /usr/share/doc/tralux/changelog.gz; do
    grep -qx -- "$path" "$work/contents" || fail "the package lacks $path"
done

grep -q '^/usr/lib/.*tralux/tralux-media\.so$' "$work/contents" || fail "the package lacks tralux-media.so"

dpkg-deb -x "$deb" "$work/root"
got=$("$work/root/usr/bin/tralux-cli" --version) || fail "tralux-cli --version exits $?"
[ "$got" = "tralux-cli $version" ] || fail "tralux-cli --version prints '$got'"
for page in tralux tralux-cli; do
    LC_ALL=C.UTF-8 man -l "$work/root/usr/share/man/man1/$page.1.gz" 2>&1 | grep -q "$version" ||
        fail "man -l $page.1.gz does not render"
done
# The metadata as a software centre sees it: with its desktop entry and icons beside it.
appstreamcli validate-tree --no-net "$work/root" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; fail "appstreamcli validate-tree"; }

# Errors fail; warnings and notes are printed for whoever reads the log.
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian reports errors"
grep -v 'root privileges' "$work/lintian.log"
((fails == 0)) && echo "ok: $(basename "$deb"), $(wc -c <"$deb") bytes"
((fails == 0))
