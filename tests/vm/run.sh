#!/usr/bin/env bash
# rfcard on Linux's own serial drivers, in QEMU: three 16550 UARTs (8250) and
# three USB adapters (ftdi_sio), each wired to an rfcard-sim on a host pty,
# and a fourth adapter for its latency timer (docs/development.md says what
# is shown). tests/vm/run.sh [BUILD_DIR]; VM_RUNS (30), VM_USB_RUNS (10),
# VM_WORK (BUILD_DIR/vm, where the kernel stays between runs).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-test}
work=${VM_WORK:-$build/vm}
runs=${VM_RUNS:-30} usb_runs=${VM_USB_RUNS:-10}
RANDOM=${VM_SEED:-5140} # varied values, the same ones on every run

bash scripts/deps.sh qemu-system-x86 busybox-static cpio gcc libc6-dev
mkdir -p "$work"

# Debian's kernel, from its package; 8250 and devtmpfs are built in, the USB
# host and serial drivers come as modules.
kpkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2}')
if [ -z "$kpkg" ]; then
    bash scripts/apt-get.sh update -qq
    kpkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2}')
fi
kernel=$work/$kpkg.vmlinuz modules=$work/$kpkg.modules
usb=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)
if [ ! -s "$kernel" ] || [ ! -s "$modules/ftdi_sio.ko" ]; then
    (cd "$work" && apt-get download -q "$kpkg" 2>/dev/null)
    dpkg-deb --fsys-tarfile "$work/${kpkg}"_*.deb | tar -xO --wildcards './boot/vmlinuz-*' \
        >"$kernel.part"
    rm -rf "$modules" && mkdir "$modules"
    dpkg-deb --fsys-tarfile "$work/${kpkg}"_*.deb \
        | tar -x -C "$modules" --wildcards --transform='s|.*/||' \
            $(printf '*/drivers/usb/*/%s.ko ' "${usb[@]}") 2>/dev/null
    for m in "${usb[@]}"; do [ -s "$modules/$m.ko" ] || { echo "harness: no $m.ko"; exit 1; }; done
    mv "$kernel.part" "$kernel" && rm -f "$work/${kpkg}"_*.deb
fi

# The set runs: "family|channel|rfcard options|expected read-back members as
# key=value". Values stay within what each model accepts; frequencies in kHz steps.
pick() { echo $(($1 + (RANDOM * 32768 + RANDOM) % ($2 - $1 + 1))); }
mhz() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }
half() { printf '%d.%d' $(($1 / 2)) $(($1 % 2 * 5)); } # half-dB steps, one decimal
cases() {
    local i ch f g m r o b
    for ((i = 0; i < runs; ++i)); do
        ch=$(pick 0 3) f=$(mhz "$(pick 950000 2150000)") r=$(pick 0 1) o=$(pick 0 1)
        if ((i % 2 == 0)); then
            # JQ5140: work mode 0 in half dB to 30 ("20.5", "20"), mode 1 in dB to 50.
            m=$(pick 0 1)
            if ((m == 1)); then g=$(pick 0 50); else g=$(half "$(pick 0 60)") g=${g%.0}; fi
            echo "jq|$ch|--card jq5140 --com /dev/ttyS1 --ch $ch --freq $f --gain $g" \
                "--workmode $m --ref $r --outfreq $((o ? 140 : 70))|ch=$ch freq=$f gain=$g" \
                "workmode=$m ref=$r outfreq=$o"
        else # JQ5120: half dB to 40 ("20.0"); --band is its IF output
            g=$(half "$(pick 0 80)")
            echo "jq|$ch|--card jq5120 --com /dev/ttyS1 --ch $ch --freq $f --gain $g" \
                "--ref $r --band $o|freq=$f gain=$g ref=$r band=$o"
        fi
        ch=$(pick 0 3) f=$(mhz "$(pick 20000 3000000)") g=$(half "$(pick 0 80)") o=$(pick 0 1)
        echo "vn|$ch|--card vn2810 --com /dev/ttyS2 --ch $ch --freq $f --gain $g" \
            "--outfreq $( ((o)) && echo 21.4 || echo 70)|ch=$ch freq=$f gain=$g outfreq=$o"
        # KLR620: work mode 0 spans 0 to 30 dB, mode 1 -5 to 45; band 2 or 3.
        ch=$(pick 0 3) f=$(mhz "$(pick 20000 6000000)") m=$(pick 0 1) b=$(pick 2 3)
        if ((m == 0)); then g=$(pick 0 30); else g=$(pick -5 45); fi
        echo "klr|$ch|--card klr620 --com /dev/ttyS3 --ch $ch --freq $f --gain=$g" \
            "--workmode $m --band $b|ch=$ch freq=$f gain=$g workmode=$m band=$b"
    done
}

# The initramfs (uncompressed: faster under emulation): busybox, rfcard with
# its libraries in a writable folder, the probe, the modules, the cases.
root=$work/root
rm -rf "$root" && mkdir -p "$root/bin" "$root/opt/rfcard"
cp /bin/busybox "$root/bin/"
cp "$build/rfcard" "$root/opt/rfcard/"
ldd "$build/rfcard" | grep -o '/[^ ]*' | xargs cp -L --parents -t "$root"
gcc -static -O2 -o "$root/bin/probe" tests/vm/probe.c
install -m 755 tests/vm/init.sh "$root/init"
mkdir -p "$root/lib/modules" && cp "$modules"/*.ko "$root/lib/modules/"
cases >"$root/cases"
echo "$usb_runs" >"$root/usb-runs"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initrd.cpio"

# The VM, held (-S) until the simulators serve. ttyS0 reports to a file. The
# adapters carry their card's name as USB serial number; "idle" has no card,
# so it must be plugged in always (QEMU plugs one when its pty is opened).
adapters=()
for f in jq vn klr idle; do
    adapters+=(-chardev "pty,id=$f"
        -device "usb-serial,bus=xhci.0,chardev=$f,serial=$f,always-plugged=on")
done
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
rm -f "$work/monitor" "$work/console.log" "$work/qemu.log" "$work"/sim-*.out
mkfifo "$work/monitor"
exec 3<>"$work/monitor"
qemu-system-x86_64 -accel tcg -m 512 -nic none -display none -no-reboot -S -monitor stdio \
    -kernel "$kernel" -initrd "$work/initrd.cpio" -append "console=ttyS0 quiet panic=-1" \
    -serial "file:$work/console.log" -serial pty -serial pty -serial pty \
    -device qemu-xhci,id=xhci "${adapters[@]}" \
    <&3 >"$work/qemu.log" 2>&1 &
pids+=($!)
qemu=$!
families=(jq vn klr)
# Waits up to a minute for a file to hold a line matching a pattern.
await() { for ((t = 0; t < 600; ++t)); do grep -q "$2" "$1" && return; sleep 0.1; done; false; }
for k in 1 2 3; do
    for label in "serial$k" "${families[k - 1]}"; do
        f=${families[k - 1]}
        await "$work/qemu.log" "(label $label)" || { echo "harness: QEMU made no $label"; exit 1; }
        pty=$(grep -o "/dev/pts/[0-9]* (label $label)" "$work/qemu.log" | cut -d' ' -f1)
        "$build/rfcard-sim" --family "$f" --port "$pty" >"$work/sim-$label.out" 2>&1 &
        pids+=($!)
        # The simulator prints the device once it serves it.
        await "$work/sim-$label.out" . || { echo "harness: rfcard-sim $label did not start"; exit 1; }
    done
done
echo cont >&3
start=$SECONDS boot=

# A busy machine slows the emulated guest without bound, so what is bounded
# is its silence: VM_QUIET seconds without a new report line.
lines=0 heard=$SECONDS
while kill -0 "$qemu" 2>/dev/null && ((SECONDS - heard < ${VM_QUIET:-300})); do
    [ -n "$boot" ] || ! grep -q '^@@ kernel' "$work/console.log" || boot=$((SECONDS - start))
    n=$(grep -c '^@@' "$work/console.log" 2>/dev/null) || true
    ((n == lines)) || { lines=$n heard=$SECONDS; }
    sleep 0.5
done
if kill -0 "$qemu" 2>/dev/null; then
    echo "harness: the VM said nothing for ${VM_QUIET:-300} s, see $work/console.log"
    exit 1
fi
elapsed=$((SECONDS - start))

# The counts: a case passes when its set run and its read-back ran clean and
# the read-back holds what was set.
report=$(tr -d '\r' <"$work/console.log" | sed -n 's/^@@ //p')
if [ -z "$report" ]; then
    tail -n 20 "$work/console.log"
    echo "harness: no report from the guest"
    exit 1
fi
grep -E '^(kernel|ttyS|usb [a-z]|latency|signal)' <<<"$report"
passed=0 failed=0
check() { if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi; }
for f in jq vn; do
    line=$(grep "^probe $f " <<<"$report") || line="probe $f: no answer"
    echo "$line"
    # The driver split replies, and no byte was lost on the shared IRQ lines.
    check grep -qE 'pieces: [1-9][0-9]* of [0-9]+ \(incomplete: 0\)' <<<"$line"
done
for f in "${families[@]}"; do
    for kind in case usb; do
        all=$(grep -c "^$kind [0-9]* $f " <<<"$report" || true)
        ok=$(grep -c "^$kind [0-9]* $f ok$" <<<"$report" || true)
        echo "$f ($([ $kind = case ] && echo 8250 || echo USB)): $ok of $all set runs read back clean and equal"
        passed=$((passed + ok)) failed=$((failed + all - ok))
        check [ "$all" -eq "$([ $kind = case ] && echo "$runs" || echo "$usb_runs")" ] # every case ran
    done
done
# The adapter's timer at 1 ms while rfcard had the port open, and as it was
# after; with RFCARD_LOW_LATENCY=0 never changed.
check grep -qx 'latency 1: before 16, during 1, after 16' <<<"$report"
check grep -qx 'latency 0: before 16, during 16, after 16' <<<"$report"
# Also when the run is ended by Ctrl+C or a script's time-out.
check grep -qx 'signal INT: before 16, during 1, after 16, status 130' <<<"$report"
check grep -qx 'signal TERM: before 16, during 1, after 16, status 143' <<<"$report"
grep -E '^(want|got|error) ' <<<"$report" | head -n 20 || true
echo "boot ${boot:-?} s, guest run ${elapsed} s, whole test ${SECONDS} s"
check grep -qx 'end' <<<"$report"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
