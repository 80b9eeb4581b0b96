#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIX_SANITIZE=ON >/dev/null
cmake --build build-asan
cd build-asan
ctest --output-on-failure -j2 --timeout 300
