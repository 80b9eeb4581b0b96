#!/usr/bin/env bash
# Installs what building, running and testing the uploader needs on Debian 12, when missing,
# and the further packages named as arguments (for example the packaging tools). Leading
# arguments that begin with "--" are passed to apt-get install (--no-install-recommends).
set -euo pipefail

apt_options=()
while (($#)) && [[ $1 == --* ]]; do
    apt_options+=("$1")
    shift
done
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
          libgtest-dev libgmock-dev zlib1g-dev libssl-dev srecord xvfb xauth xdotool openbox wmctrl
          fonts-dejavu-core fonts-liberation imagemagick locales "$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${apt_options[@]}" \
        "${missing[@]}" >/dev/null
fi
