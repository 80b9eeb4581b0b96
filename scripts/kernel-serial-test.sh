#!/usr/bin/env bash
# Runs the serial driver's and the serial components' tests and the whole upload cycle on real
# Linux serial drivers: the 8250/16550A UART driver and the FTDI USB-serial driver (ftdi_sio)
# of Debian's kernel, in QEMU guests under TCG (no KVM needed). The unit simulator plays the unit
# on the host end of the line. Installs what is missing, builds into build-asan/, keeps the
# guests' consoles and the simulator's reports in build-asan/kernel-serial/, and ends with the
# suite's summary. Exit status 0 only when every test passed.
# Usage: kernel-serial-test.sh [SUITE...]: 8250, ftdi (the driver's and the components' tests),
# cycle-8250, cycle-ftdi (the whole cycle, and the adapter pulled); all four by default.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$source_dir/build-asan
work=$build/kernel-serial
started=$SECONDS
suites=("$@")
((${#suites[@]})) || suites=(8250 ftdi cycle-8250 cycle-ftdi)

# --- What the suite needs -------------------------------------------------------------------
# The base packages first, then the guests' without their recommendations (QEMU's bring its
# graphical front ends).
scripts/setup.sh
scripts/setup.sh --no-install-recommends qemu-system-x86 busybox-static linux-image-amd64 cpio
[ -f "$build/build.ninja" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIX_SANITIZE=ON >/dev/null
cmake --build "$build" --target serial_port_tests serial_components_tests kernel_serial_tests \
    orvix-sim serial_open_probe >/dev/null

# The newest installed Debian kernel with its modules.
kver=""
for k in /boot/vmlinuz-*; do
    v=${k#/boot/vmlinuz-}
    [ -d "/lib/modules/$v/kernel/drivers/usb/serial" ] && kver=$v
done
[ -n "$kver" ] || { echo "kernel-serial: no kernel with USB serial modules in /boot" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
sim=$build/bin/orvix-sim
firmware=$work/firmware.out
"$sim" --make-firmware "$firmware" --size 16384 >/dev/null
printf 'BUILD=%s\nSOURCE=%s\nFIRMWARE=%s\n' "$build" "$source_dir" "$firmware" >"$work/guest.env"
tests/kernel_serial/make-image.sh "$work/image.cpio.gz" "$kver" "$work/guest.env" \
    "$build/bin/serial_port_tests" "$build/bin/serial_components_tests" \
    "$build/bin/kernel_serial_tests" "$build/bin/serial_open_probe" "$sim" \
    "$source_dir/tests/support/lsan.supp" "$firmware"

# --- Guests ---------------------------------------------------------------------------------
boot_limit=1500 # seconds for one guest, boot to power-off, on a loaded machine

qemu() { # qemu SUITE ARGS...: the guest that runs SUITE, its console in $work/SUITE.console
    local suite=$1
    shift
    timeout -k 10 "$boot_limit" qemu-system-x86_64 -machine pc -smp 2 -m 1024 -nodefaults \
        -no-reboot -display none -kernel "/boot/vmlinuz-$kver" -initrd "$work/image.cpio.gz" \
        -append "console=ttyS0 loglevel=3 panic=-1 orvix_suite=$suite" \
        -chardev "file,id=con,path=$work/$suite.console" -device isa-serial,chardev=con,index=0 \
        "$@"
}

fifo_pair() { # fifo_pair NAME: the FIFOs of a -chardev pipe, NAME.in and NAME.out
    mkfifo "$1.in" "$1.out"
}

# The device under test and its peer, both in the guest (the peer as /dev/ttyS2), joined by
# the harness's null-modem relay on the host.
driver_suite() { # driver_suite SUITE DEVICE-ARGS...
    local suite=$1
    shift
    fifo_pair "$work/$suite-dut"
    fifo_pair "$work/$suite-peer"
    perl tests/kernel_serial/relay.pl "$work/$suite-dut" "$work/$suite-peer" &
    local relay=$!
    qemu "$suite" "$@" -chardev "pipe,id=peer,path=$work/$suite-peer" \
        -device isa-serial,chardev=peer,index=2 >"$work/$suite.qemu" 2>&1 || true
    kill "$relay" 2>/dev/null || true
    wait "$relay" 2>/dev/null || true
}

# The simulated unit the guest asks for, on the host end of the device under test.
sim_pid=""
start_unit() { # start_unit SUITE NAME PTY
    local options
    case "$2" in
    paced) options=(--baud 115200 --units 1) ;;
    unpaced) options=(--baud 0 --xoff-reaction-ms 0 --buffer 65536 --xoff-at 1024
                      --xon-at 256 --units 1) ;;
    replug) options=(--baud 115200 --line-timeout 3 --units 2) ;;
    *) echo "kernel-serial: unknown unit '$2'" >&2; return ;;
    esac
    # What the guest sent while no unit was there (its wake-up CRs) is not for this unit.
    timeout 0.3 cat "$3" >/dev/null 2>&1 || true
    "$sim" --device "$3" --report "$work/$1-$2.json" --pause-ms 100 --verbose "${options[@]}" \
        2>"$work/$1-$2.sim" &
    sim_pid=$!
}
stop_unit() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}

# The guest starts paused; once the host end of its port is known the harness starts, and it
# follows the guest's requests on the console: a unit to start, the USB adapter to pull or put
# back (through QEMU's monitor). The harness keeps the host end open the whole time: QEMU
# detaches its usb-serial device whenever nobody has the pty open, and drops a UART's output.
cycle_suite() { # cycle_suite SUITE DEVICE-ARGS...
    local suite=$1
    shift
    fifo_pair "$work/$suite-monitor"
    qemu "$suite" -S -chardev "pipe,id=mon,path=$work/$suite-monitor" -mon chardev=mon \
        -chardev pty,id=dut "$@" >"$work/$suite.qemu" 2>&1 &
    local guest=$!
    cat "$work/$suite-monitor.out" >"$work/$suite.monitor" &
    local monitor_log=$!
    local pty="" i
    for ((i = 0; i < 300 && ${#pty} == 0; i++)); do
        pty=$(sed -n 's/.*char device redirected to \(\/dev\/pts\/[0-9]*\) (label dut).*/\1/p' \
            "$work/$suite.qemu" 2>/dev/null)
        sleep 0.1
    done
    local hold
    if [ -z "$pty" ]; then
        echo "kernel-serial: $suite: QEMU gave no pty" >&2
    else
        exec {hold}<>"$pty"
        echo cont >"$work/$suite-monitor.in"
    fi
    local handled=0 line
    while kill -0 "$guest" 2>/dev/null; do
        mapfile -t requests < <(tr -d '\r' <"$work/$suite.console" 2>/dev/null |
            sed -n 's/^ORVIX-HOST //p')
        for line in "${requests[@]:handled}"; do
            case "$line" in
            "unit "*) stop_unit; start_unit "$suite" "${line#unit }" "$pty" ;;
            unplug) echo "device_del ftdi" >"$work/$suite-monitor.in" ;;
            replug)
                # The unit gives up on the broken download first (its line timeout), as a unit
                # is reset before the adapter goes back in: the tool's wake-up CRs would else
                # keep it waiting for the rest of the file.
                for ((i = 0; i < 300; i++)); do
                    grep -q '"result"' "$work/$suite-replug.json" 2>/dev/null && break
                    sleep 0.1
                done
                echo "device_add usb-serial,chardev=dut,id=ftdi" >"$work/$suite-monitor.in"
                ;;
            esac
            handled=$((handled + 1))
        done
        sleep 0.2
    done
    wait "$guest" || true
    [ -z "${hold:-}" ] || exec {hold}<&-
    stop_unit
    kill "$monitor_log" 2>/dev/null || true
    wait "$monitor_log" 2>/dev/null || true
}

for suite in "${suites[@]}"; do
    case "$suite" in
    8250) driver_suite 8250 -chardev "pipe,id=dut,path=$work/8250-dut" \
        -device isa-serial,chardev=dut,index=1 ;;
    ftdi) driver_suite ftdi -device qemu-xhci -chardev "pipe,id=dut,path=$work/ftdi-dut" \
        -device usb-serial,chardev=dut,id=ftdi ;;
    cycle-8250) cycle_suite cycle-8250 -device isa-serial,chardev=dut,index=1 ;;
    cycle-ftdi) cycle_suite cycle-ftdi -device qemu-xhci -device usb-serial,chardev=dut,id=ftdi ;;
    *) echo "kernel-serial: unknown suite '$suite'" >&2; exit 2 ;;
    esac
done

# --- Results --------------------------------------------------------------------------------
passed=0 failed=0 skipped=0
failures=()

# Counts one program's GoogleTest results from the console, framed by the guest's markers.
count_program() { # count_program CONSOLE NAME
    local block ok bad skip rc
    block=$(tr -d '\r' <"$1" | sed -n "/^ORVIX-BEGIN $(sed 's/\//\\\//g' <<<"$2")\$/,/^ORVIX-END /p")
    ok=$(grep -c '^\[       OK \] .* ([0-9]* ms)$' <<<"$block" || true)
    bad=$(grep -c '^\[  FAILED  \] .* ([0-9]* ms)$' <<<"$block" || true)
    skip=$(grep -c '^\[  SKIPPED \] .* ([0-9]* ms)$' <<<"$block" || true)
    rc=$(sed -n 's/^ORVIX-END .* rc=\([0-9]*\)$/\1/p' <<<"$block")
    # A program that crashed, hung or never ended has failed, whatever it printed before.
    if [ "$rc" != 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi
    passed=$((passed + ok)) failed=$((failed + bad)) skipped=$((skipped + skip))
    printf '%-42s %3d passed, %d failed, %d skipped (exit %s)\n' "$2" "$ok" "$bad" "$skip" \
        "${rc:-none}"
    while read -r t; do failures+=("$2: $t"); done < <(grep '^\[  FAILED  \] .* ([0-9]* ms)$' \
        <<<"$block" | sed 's/^\[  FAILED  \] //; s/ ([0-9]* ms)$//')
    if [ "$rc" != 0 ] && [ -z "$(grep '^\[  FAILED  \] .* ([0-9]* ms)$' <<<"$block")" ]; then
        failures+=("$2: exit ${rc:-none} (see $1)")
    fi
}

# Checks the simulator's report of a cycle on the host. `bytes` counts what the unit received
# of the file: its bytes but the CRs, and at most one more LF at the end.
file_bytes=$(tr -d '\r' <"$firmware" | wc -c)
field() { sed -n "s/.*\"$1\": *\"\{0,1\}\([^,\"}]*\).*/\1/p" <<<"$2" | sed 's/ *$//'; }
check_unit() { # check_unit NAME REPORT INDEX EXPECTED-RESULT
    local name=$1 units unit result bytes overrun why=""
    units=$(tr -d '\n' <"$2" 2>/dev/null | sed 's/}, *{/}\n{/g')
    unit=$(sed -n "$(($3 + 1))p" <<<"$units")
    result=$(field result "$unit") bytes=$(field bytes "$unit") overrun=$(field overrun_bytes "$unit")
    local summary="$result, bytes $bytes (file $file_bytes), overrun_bytes $overrun"
    summary+=", xoff_sent $(field xoff_sent "$unit"), bytes_after_xoff $(field bytes_after_xoff "$unit")"
    summary+=", max_fill $(field max_fill "$unit"), download_s $(field download_s "$unit")"
    if [ -z "$unit" ]; then
        why="no cycle $3 in $2"
    elif [ "$result" != "$4" ]; then
        why="result $result, not $4"
    elif [ "$4" = crc-ok ] && [ "$overrun" != 0 ]; then
        why="overrun_bytes $overrun"
    elif [ "$4" = crc-ok ] && { [ "$bytes" -lt "$file_bytes" ] || [ "$bytes" -gt $((file_bytes + 1)) ]; }; then
        why="received $bytes bytes of the file's $file_bytes"
    fi
    if [ -z "$why" ]; then
        passed=$((passed + 1))
        printf '%-42s passed: %s\n' "$name" "$summary"
    else
        failed=$((failed + 1))
        failures+=("$name: $why")
        printf '%-42s FAILED: %s (%s)\n' "$name" "$why" "$summary"
    fi
}

echo
echo "Kernel serial drivers in QEMU (kernel $kver), results:"
for suite in "${suites[@]}"; do
    case "$suite" in
    8250 | ftdi)
        for program in serial_port_tests serial_components_tests kernel_serial_tests; do
            count_program "$work/$suite.console" "$suite/$program"
        done
        ;;
    cycle-*)
        count_program "$work/$suite.console" "$suite/kernel_serial_tests"
        check_unit "$suite/report paced" "$work/$suite-paced.json" 0 crc-ok
        check_unit "$suite/report unpaced" "$work/$suite-unpaced.json" 0 crc-ok
        ;;
    esac
    if [ "$suite" = cycle-ftdi ]; then
        check_unit "$suite/report pulled" "$work/$suite-replug.json" 0 download-failed
        check_unit "$suite/report replugged" "$work/$suite-replug.json" 1 crc-ok
    fi
done

echo
echo "Figures (guest):"
for suite in "${suites[@]}"; do
    tr -d '\r' <"$work/$suite.console" | sed -n "s/^ORVIX-FIGURE /  $suite /p"
done
if ((${#failures[@]})); then
    echo
    echo "Failed:"
    printf '  %s\n' "${failures[@]}"
fi
total=$((passed + failed))
echo
echo "kernel-serial: $total tests run in $((SECONDS - started)) s"
# The last line is the summary in the plain form test runners' readers know.
echo "kernel-serial: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$total" -gt 0 ]
