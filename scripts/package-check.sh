#!/usr/bin/env bash
# CI: builds the Debian package (scripts/package.sh), installs it on this machine with apt-get,
# checks what it installed (both programs answer from PATH, also for a user outside dialout;
# the menu entry, the metainfo, the icons and the manual pages pass their validators) and the
# package itself (lintian: no errors; warnings and notes are listed), then purges it again,
# also when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh lintian desktop-file-utils appstream man-db
scripts/package.sh

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
apt() { DEBIAN_FRONTEND=noninteractive $sudo apt-get -y -qq "$@"; }
installed() { dpkg-query -W -f='${Status}' orvix-uploader 2>/dev/null | grep -q "ok installed"; }
fail() {
    echo "package check: $*" >&2
    exit 1
}

debs=(build-pkg/orvix-uploader_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in build-pkg/"
deb="${debs[0]}"
# An installation of the operator's own is not the CI's to replace or remove.
! installed || fail "orvix-uploader is installed already: remove it first"

echo "== lintian $deb"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

echo "== apt-get install ./$deb"
trap 'apt purge orvix-uploader >/dev/null || true' EXIT
apt install "./$deb" >/dev/null
version=$(dpkg-query -W -f='${Version}' orvix-uploader)
mapfile -t files < <(dpkg -L orvix-uploader)
only() { # the one installed file whose path matches the pattern
    local matches
    mapfile -t matches < <(printf '%s\n' "${files[@]}" | grep -E "$1")
    [ ${#matches[@]} -eq 1 ] || fail "expected one installed file like $1, found ${#matches[@]}"
    echo "${matches[0]}"
}

echo "== the programs on PATH"
for program in orvix-uploader orvix-sim; do
    [ "$(command -v $program)" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
    answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $program --version)
    [ "$answer" = "$program $version" ] || fail "$program --version: '$answer', not '$program $version'"
    runuser -u nobody -- $program --help | grep -q "$version" || fail "$program --help as nobody"
    echo "$answer"
done

echo "== the menu entry, the metainfo, the icons, the manual pages"
desktop=$(only '^/usr/share/applications/[^/]+\.desktop$')
desktop-file-validate "$desktop"
metainfo=$(only '^/usr/share/metainfo/[^/]+\.metainfo\.xml$')
appstreamcli validate --no-net "$metainfo"
id=$(basename "$desktop" .desktop)
grep -qx "Icon=$id" "$desktop" || fail "$desktop: Icon= is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "$metainfo does not launch $id.desktop"
only "^/usr/share/icons/hicolor/scalable/apps/$id\.svg$" >/dev/null
for size in 16 22 24 32 48 64 128 256; do
    png=$(only "^/usr/share/icons/hicolor/${size}x${size}/apps/$id\.png$")
    [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
done
for page in orvix-uploader orvix-sim; do
    path=$(only "^/usr/share/man/man1/$page\.1\.gz$")
    [ "$(man -w $page)" = "$path" ] || fail "man -w $page does not find $path"
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$path" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$path: $warnings"
done
echo "$desktop, $metainfo, icons, manual pages: valid"

echo "== apt-get purge orvix-uploader"
trap - EXIT
apt purge orvix-uploader >/dev/null
! installed || fail "orvix-uploader is still installed"
! command -v orvix-uploader >/dev/null || fail "orvix-uploader is still on PATH"
echo "Package $deb: built, installed, checked and removed"
