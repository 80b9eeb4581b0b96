#!/usr/bin/env bash
# CI: builds the Debian package (scripts/package.sh), installs it on this machine with apt-get,
# checks what it installed (the programs answer from PATH, also for a user outside dialout;
# the menu entry, the metainfo, the icons and the manual pages pass their validators) and the
# package itself (lintian: no errors; warnings and notes are listed), then purges it again,
# also when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh lintian desktop-file-utils appstream man-db xvfb xdotool
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

echo "== apt-get install --no-install-recommends ./$deb"
trap 'apt purge orvix-uploader >/dev/null || true' EXIT
apt install --no-install-recommends "./$deb" >/dev/null
version=$(dpkg-query -W -f='${Version}' orvix-uploader)
mapfile -t files < <(dpkg -L orvix-uploader)
only() { # the one installed file whose path matches the pattern
    local matches
    mapfile -t matches < <(printf '%s\n' "${files[@]}" | grep -E "$1")
    [ ${#matches[@]} -eq 1 ] || fail "expected one installed file like $1, found ${#matches[@]}"
    echo "${matches[0]}"
}

echo "== the programs on PATH"
for program in orvix-uploader orvix-line orvix-sim orvix-upload; do
    [ "$(command -v $program)" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
    answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $program --version)
    [ "$answer" = "$program $version" ] || fail "$program --version: '$answer', not '$program $version'"
    runuser -u nobody -- $program --help | grep -q "$version" || fail "$program --help as nobody"
    echo "$answer"
done

echo "== the menu entry, the metainfo, the icons, the manual pages"
desktop=$(only '^/usr/share/applications/com\.tallowmere\.OrvixUploader\.desktop$')
desktop-file-validate "$desktop"
line_desktop=$(only '^/usr/share/applications/com\.tallowmere\.OrvixLine\.desktop$')
desktop-file-validate "$line_desktop"
grep -qx "Exec=orvix-line" "$line_desktop" || fail "$line_desktop does not start orvix-line"
metainfo=$(only '^/usr/share/metainfo/[^/]+\.metainfo\.xml$')
appstreamcli validate --no-net "$metainfo"
id=$(basename "$desktop" .desktop)
grep -qx "Icon=$id" "$desktop" || fail "$desktop: Icon= is not $id"
grep -qx "Icon=$id" "$line_desktop" || fail "$line_desktop: Icon= is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "$metainfo does not launch $id.desktop"
only "^/usr/share/icons/hicolor/scalable/apps/$id\.svg$" >/dev/null
for size in 16 22 24 32 48 64 128 256; do
    png=$(only "^/usr/share/icons/hicolor/${size}x${size}/apps/$id\.png$")
    [ "$(identify -format '%wx%h' "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
done
for page in orvix-uploader orvix-line orvix-sim orvix-upload; do
    path=$(only "^/usr/share/man/man1/$page\.1\.gz$")
    [ "$(man -w $page)" = "$path" ] || fail "man -w $page does not find $path"
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$path" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$path: $warnings"
done
echo "$desktop, $line_desktop, $metainfo, icons, manual pages: valid"

echo "== the manual pages hyphenate no path or file name"
for page in orvix-uploader orvix-line orvix-sim orvix-upload; do
    text=$(LC_ALL=C.UTF-8 MANWIDTH=60 man -E UTF-8 $page 2>/dev/null | col -b)
    ! grep -qE '[[:alnum:]_./]-$' <<<"$text" || fail "man $page breaks a word with a hyphen:
$(grep -nE '[[:alnum:]_./]-$' <<<"$text")"
done

echo "== the examples' README names only files that are installed beside it"
examples=$(dirname "$(only '/examples/README\.md$')")
for named in $(grep -oE '`[^` ]+\.(out|rules|md)`' "$examples/README.md" | tr -d '`' | sort -u); do
    [ -e "$examples/$named" ] || fail "$examples/README.md names $named, which is not installed"
done

echo "== the window opens (no recommended packages installed)"
run=$(mktemp -d)
chmod 0755 "$run"
(cd "$run" && exec env HOME="$run" xvfb-run -a orvix-uploader) >"$run/output" 2>&1 &
starter=$!
# The uploader started above: the one working in this run's folder.
ours() {
    local p
    for p in $(pgrep -x orvix-uploader); do
        [ "$(readlink "/proc/$p/cwd")" = "$run" ] && echo "$p"
    done
    return 0
}
opened=""
for _ in $(seq 150); do
    pid=$(ours | head -1)
    if [ -n "$pid" ]; then
        display=$(tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^DISPLAY=//p')
        if [ -n "$display" ] && DISPLAY="$display" XAUTHORITY="$(tr '\0' '\n' <"/proc/$pid/environ" |
            sed -n 's/^XAUTHORITY=//p')" xdotool search --name \
            '^Tallowmere Orvix-500 Firmware Uploader$' >/dev/null 2>&1; then
            opened=yes
            break
        fi
    fi
    sleep 0.1
done
pid=$(ours | head -1)
[ -z "$pid" ] || kill "$pid"
wait "$starter" 2>/dev/null || true
[ -n "$opened" ] || fail "orvix-uploader opened no window: $(cat "$run/output")"
rm -rf "$run"
echo "the main window opened"

echo "== apt-get purge orvix-uploader"
trap - EXIT
apt purge orvix-uploader >/dev/null
! installed || fail "orvix-uploader is still installed"
! command -v orvix-uploader >/dev/null || fail "orvix-uploader is still on PATH"
echo "Package $deb: built, installed, checked and removed"
