#!/usr/bin/env bash
# Runs whole upload cycles at 3,000,000 bit/s (20 by default) while two busy loops keep both
# cores loaded, and prints how many passed. Usage:
#   scripts/bench-high-speed.sh [build dir (build)] [runs (20)] [baud (3000000)]
set -euo pipefail

build=${1:-build}
runs=${2:-20}
baud=${3:-3000000}
bench="$build/bin/high_speed_cycle_bench"
if [ ! -x "$bench" ]; then
    echo "missing $bench: cmake --build $build --target high_speed_cycle_bench" >&2
    exit 2
fi

loaders=()
stop_loaders() {
    for pid in "${loaders[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap stop_loaders EXIT
for _ in $(seq "$(nproc)"); do
    sh -c 'while :; do :; done' &
    loaders+=("$!")
done
echo "load: ${#loaders[@]} busy loops; $(cut -d' ' -f1-3 /proc/loadavg) load average"
"$bench" "$runs" "$baud"
