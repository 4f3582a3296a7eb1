#!/usr/bin/env bash
# Builds the .deb from BUILD_DIR, unpacks it into a scratch root and checks
# what a user gets: the file list, the desktop entry and metainfo validators,
# the manual pages, the package's relations, lintian, and the programs.
# Usage: check-package.sh BUILD_DIR VERSION APP_ID
set -euo pipefail
build="$1"
version="$2"
id="$3"
scratch="$(mktemp -d /tmp/telvar-package-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) \
  || { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb="$scratch/out/telvar_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb"
dpkg -x "$deb" "$scratch/root"
root="$scratch/root"

# Every file, and nothing else.
expected="usr/bin/telvar
usr/bin/telvar-boxsim
usr/share/applications/$id.desktop
usr/share/doc/telvar/changelog.gz
usr/share/doc/telvar/copyright"
for size in 16 24 32 48 64 128 256; do
  expected+=$'\n'"usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
done
expected+="
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/man/man1/telvar-boxsim.1.gz
usr/share/man/man1/telvar.1.gz
usr/share/metainfo/$id.metainfo.xml"
actual="$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)"
expected="$(printf '%s\n' "$expected" | LC_ALL=C sort)"
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "file list (- expected, + packaged)"
fi

# Icons are what they say: PNGs of their size, an SVG.
for size in 16 24 32 48 64 128 256; do
  file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" | grep -q "PNG image data, $size x $size," \
    || fail "icon $size"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" || fail "svg icon"

desktop="$root/usr/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx "Icon=$id" "$desktop" || fail "desktop Icon"
grep -qx "Exec=telvar" "$desktop" || fail "desktop Exec"
grep -qx "Categories=Science;Engineering;" "$desktop" || fail "desktop Categories"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -q "<id>$id</id>" "$root/usr/share/metainfo/$id.metainfo.xml" || fail "metainfo id"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$id.metainfo.xml" || fail "metainfo release"

# Manual pages format without a warning, and telvar(1) lists every option.
for page in telvar telvar-boxsim; do
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "man $page: $warnings"
done
help="$("$root/usr/bin/telvar" --help)"
options="$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u)"
[ -n "$options" ] || fail "no options in --help"
# The heads of the page's tagged paragraphs (.TP): one per option.
items="$(zcat "$root/usr/share/man/man1/telvar.1.gz" | grep -A1 '^\.TP$' | grep -v -e '^\.TP$' -e '^--$')"
for opt in $options; do
  grep -qE -- "(^| )${opt//-/\\\\-}( |\"|$)" <<<"$items" || fail "telvar(1) has no entry for $opt"
done
[ "$("$root/usr/bin/telvar" --version)" = "telvar $version" ] || fail "telvar --version"
"$root/usr/bin/telvar-boxsim" --help >/dev/null || fail "telvar-boxsim --help"

# Relations for Debian 12.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Version)" = "$version" ] || fail "Version"
for dep in qt6-qpa-plugins fonts-wqy-microhei fonts-arphic-uming fonts-arphic-ukai qt6-translations-l10n \
           libqt6core6 libqt6gui6 libqt6widgets6; do
  field Depends | tr ',' '\n' | grep -q "^ *$dep\b" || fail "Depends lacks $dep: $(field Depends)"
done
[ "$(field Recommends)" = "qt6-wayland" ] || fail "Recommends: $(field Recommends)"

if command -v lintian >/dev/null; then
  status=0
  lintian --fail-on error "$deb" >"$scratch/lintian.log" 2>&1 || status=$?
  grep -v 'running with root privileges' "$scratch/lintian.log" >&2 || true
  [ "$status" -eq 0 ] || fail "lintian reports errors"
fi
echo "package ok: $(du -k "$deb" | cut -f1) KiB, installed $(du -sk "$root/usr" | cut -f1) KiB"
