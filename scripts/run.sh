#!/usr/bin/env bash
# Installs what is missing, builds the uploader and the unit simulator in build/, and starts
# the uploader in run/ against a simulated unit on a pseudo-terminal (COM2 in run/Uploader.ini).
# Press Connect, then Select File and pick run/firmware.out. Without a display it programs the
# simulated unit with the headless command orvix-upload instead, its progress and verdict in
# the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    cmake --build build --target orvix-uploader orvix-sim
else
    cmake --build build --target orvix-upload orvix-sim
fi

mkdir -p run
cd run
link="$PWD/ttyORVIX"
../build/bin/orvix-sim --link "$link" --report "$PWD/sim-report.json" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

# Point COM2 at the simulated unit, unless the operator has set up a port map already.
if ! grep -qi '^\s*\[ports\]' Uploader.ini 2>/dev/null; then
    printf '[Ports]\r\nCOM2=%s\r\n' "$link" >> Uploader.ini
fi
[ -e firmware.out ] || ../build/bin/orvix-sim --make-firmware firmware.out --size 16384 >/dev/null

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    ../build/bin/orvix-uploader
else
    echo "No display: programming the simulated unit with orvix-upload (see man orvix-upload)."
    ../build/bin/orvix-upload --port COM2 --file firmware.out
fi
