#!/usr/bin/env bash
# Builds the Debian package build-pkg/orvix-uploader_<version>_amd64.deb: a Release build of the
# uploader and the simulator (no sanitizers, tests or benchmarks) with Debian's hardening
# flags, packed by CPack. Installs what is missing first. Install the package with
#   sudo apt-get install ./build-pkg/orvix-uploader_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh dpkg-dev file

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DORVIX_SANITIZE=OFF -DORVIX_BUILD_TESTS=OFF -DORVIX_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-pkg
# One package in the folder, so that the install command names exactly this one.
rm -f build-pkg/orvix-uploader_*.deb
(cd build-pkg && cpack -G DEB)
