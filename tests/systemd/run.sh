#!/usr/bin/env bash
# The shared install under a real systemd: a Debian 12 machine in QEMU (KVM
# where there is one, TCG otherwise) boots with systemd as PID 1 and the
# package installed from the build; its UARTs and a USB serial adapter are
# wired to rfcard-sim here, three cards are configured and their sockets
# enabled before the boot; tests/systemd/guest.sh makes the checks inside.
# Skips with one line where QEMU or a Debian root cannot be had.
#   tests/systemd/run.sh [BUILD_DIR]   (root; SYSTEMD_WORK: BUILD_DIR/systemd)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build-test}")
work=${SYSTEMD_WORK:-$build/systemd}
bash scripts/deps.sh qemu-system-x86 e2fsprogs >/dev/null 2>&1 || { echo "skipped: no QEMU"; exit 0; }
root=$(bash scripts/bookwormroot.sh) || { echo "skipped: no Debian 12 root"; exit 0; }
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/rfcard_*.deb | head -n 1)

# The machine's disk: the cached root, the package installed, users alice
# (dialout) and bob, the cards configured and enabled, the checks as a unit.
rm -rf "$work" && mkdir -p "$work"
cp -a "$root" "$work/root"
r=$work/root
cp "$deb" "$r/root/rfcard.deb"
install -m 755 tests/systemd/guest.sh "$r/root/guest.sh"
mkdir -p "$r/etc/rfcard/rfcardd"
printf 'CARD=VN2810\nCOM=/dev/ttyS1\nLISTEN=127.0.0.1:5025\nREAD_ONLY_LISTEN=127.0.0.1:5026\n' \
  >"$r/etc/rfcard/rfcardd/lab.conf"
printf 'CARD=KLR620\nCOM=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_rfcardusb-if00-port0\n' \
  >"$r/etc/rfcard/rfcardd/usb.conf"
printf 'CARD=VN2810\nCOM=/dev/ttyS3\n' >"$r/etc/rfcard/rfcardd/slow.conf"
cat >"$r/etc/systemd/system/rfcard-checks.service" <<'UNIT'
[Unit]
After=multi-user.target
[Service]
Type=oneshot
ExecStart=/root/guest.sh
ExecStopPost=/bin/systemctl poweroff --no-block
UNIT
echo /dev/vda / ext4 rw 0 1 >"$r/etc/fstab"
unshare --mount --propagation private bash -ec '
  mount -t proc proc "$1/proc"
  chroot "$1" sh -ec "
    DEBIAN_FRONTEND=noninteractive dpkg -i /root/rfcard.deb >/dev/null
    useradd -m -G dialout -s /bin/sh alice
    useradd -m -s /bin/sh bob
    systemctl enable rfcardd@lab.socket rfcardd@usb.socket rfcardd@slow.socket 2>/dev/null
    ln -s /etc/systemd/system/rfcard-checks.service /etc/systemd/system/multi-user.target.wants/
    systemctl mask serial-getty@ttyS0.service getty@tty1.service 2>/dev/null"' bash "$r"
truncate -s 3G "$work/disk.img"
mkfs.ext4 -q -F -d "$r" "$work/disk.img"
rm -rf "$r"

# The machine, held (-S) until the simulators serve its lines.
# KVM where it works: some hosts offer /dev/kvm to a guest that never runs.
accel=tcg
if [ -w /dev/kvm ]; then
  timeout 20 qemu-system-x86_64 -accel kvm -m 256 -nic none -display none -no-reboot \
    -kernel "$root/vmlinuz" -append "console=ttyS0 panic=-1" -serial "file:$work/probe.log" \
    >/dev/null 2>&1 || true
  grep -q "Linux version" "$work/probe.log" 2>/dev/null && accel=kvm
fi
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
mkfifo "$work/monitor"
exec 3<>"$work/monitor"
qemu-system-x86_64 -accel "$accel" -m 1024 -smp 2 -nic none -display none -no-reboot -S \
  -monitor stdio -kernel "$root/vmlinuz" -initrd "$root/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet systemd.show_status=0 panic=-1" \
  -drive file="$work/disk.img",format=raw,if=virtio \
  -serial "file:$work/console.log" -serial pty -serial pty -serial pty \
  -device qemu-xhci,id=xhci -chardev pty,id=usb \
  -device usb-serial,bus=xhci.0,chardev=usb,serial=rfcardusb,id=adapter,always-plugged=on \
  <&3 >"$work/qemu.log" 2>&1 &
pids+=($!)
qemu=$!
await() { for ((t = 0; t < 600; ++t)); do grep -q "$2" "$1" && return; sleep 0.1; done; false; }
for card in "serial1 vn" "serial2 vn" "serial3 vn --delay 900" "usb klr"; do
  set -- $card
  label=$1 family=$2
  shift 2
  await "$work/qemu.log" "(label $label)" || { echo "harness: QEMU made no $label"; exit 1; }
  pty=$(grep -o "/dev/pts/[0-9]* (label $label)" "$work/qemu.log" | cut -d' ' -f1)
  "$build/rfcard-sim" --family "$family" --port "$pty" "$@" >"$work/sim-$label.out" 2>&1 &
  pids+=($!)
  await "$work/sim-$label.out" . || { echo "harness: rfcard-sim $label did not start"; exit 1; }
done
echo cont >&3
start=$SECONDS

# The guest's reports; it asks for the adapter to be pulled and put back.
heard=$SECONDS done=0
while kill -0 "$qemu" 2>/dev/null && ((SECONDS - heard < ${VM_QUIET:-300})); do
  n=$(grep -c '^@@' "$work/console.log" 2>/dev/null) || true
  if ((n > done)); then
    heard=$SECONDS
    while IFS= read -r line; do
      case $line in
        "@@ unplug"*) echo "device_del adapter" >&3 ;;
        "@@ plug"*) echo "device_add usb-serial,bus=xhci.0,chardev=usb,serial=rfcardusb,id=adapter" >&3 ;;
      esac
    done < <(tr -d '\r' <"$work/console.log" | grep '^@@' | tail -n +$((done + 1)))
    done=$n
  fi
  sleep 0.5
done
kill -0 "$qemu" 2>/dev/null && echo "harness: the machine said nothing for ${VM_QUIET:-300} s"
report=$(tr -d '\r' <"$work/console.log" | sed -n 's/^@@ //p')
grep -v '^\(un\)\{0,1\}plug$' <<<"$report" || true
passed=$(grep -c '^ok ' <<<"$report" || true)
failed=$(grep -c '^FAIL ' <<<"$report" || true)
grep -qx end <<<"$report" || { failed=$((failed + 1)); tail -n 30 "$work/console.log"; }
echo "$accel, the whole stage $SECONDS s, the machine $((SECONDS - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
