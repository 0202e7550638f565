#!/usr/bin/env bash
# Makes, once, a Debian 12 root that boots with systemd as PID 1, for the
# test of the shared install under a real service manager (tests/systemd),
# and prints its path: systemd, udev, Debian's kernel and an initramfs that
# mounts a virtio disk, the libraries rfcard's package depends on, pyvisa
# and socat for clients. Kept in RFCARD_BOOKWORM_CACHE (default
# ~/.cache/rfcard/bookworm), under a name made of this file's checksum, so
# that a changed recipe builds anew. A few minutes and about 1.5 GB the first
# time. Root only (debootstrap, chroot).
set -euo pipefail
cd "$(dirname "$0")/.."
cache=${RFCARD_BOOKWORM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/rfcard/bookworm}
recipe=$(sha256sum <scripts/bookwormroot.sh)
root=$cache/bookworm-${recipe:0:12}
if [ ! -e "$root/vmlinuz" ]; then
  bash scripts/deps.sh debootstrap >&2
  mirror=$(sed -n 's/^URIs: *\([^ ]*\/debian\)$/\1/p; s/^deb \([^ ]*\/debian\) .*/\1/p' \
    /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1 || true)
  mkdir -p "$cache"
  find "$cache" -mindepth 1 -maxdepth 1 -name 'bookworm-*' ! -path "$root" -exec rm -rf {} +
  rm -rf "$root"
  start=$(date +%s)
  echo "systemd: making a Debian 12 root in $root" >&2
  debootstrap --variant=minbase --include=systemd,systemd-sysv,udev,dbus,kmod,procps,iproute2 \
    bookworm "$root.part" "${mirror:-http://deb.debian.org/debian}" \
    >"$cache/debootstrap.log" 2>&1 || { tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
  unshare --mount --propagation private bash -ec '
    mount -t proc proc "$1/proc"
    mount -t sysfs sys "$1/sys"
    mount --bind /dev "$1/dev"
    chroot "$1" apt-get -qq update
    # The initramfs holds the modules of the disk and its file system.
    mkdir -p "$1/etc/initramfs-tools/conf.d"
    echo MODULES=list >"$1/etc/initramfs-tools/conf.d/rfcard"
    printf "virtio_pci\nvirtio_blk\next4\n" >>"$1/etc/initramfs-tools/modules"
    echo "do_symlinks = no" >"$1/etc/kernel-img.conf"
    DEBIAN_FRONTEND=noninteractive chroot "$1" apt-get install -y -qq --no-install-recommends \
      linux-image-amd64 initramfs-tools adduser libqt5core5a libqt5network5 libqt5serialport5 \
      python3-pyvisa-py socat rpcbind lxi-tools netbase
    chroot "$1" apt-get clean
    cp "$1"/boot/vmlinuz-* "$1/vmlinuz.part"
    cp "$1"/boot/initrd.img-* "$1/initrd.img"
    mv "$1/vmlinuz.part" "$1/vmlinuz"' bash "$root.part" >"$cache/packages.log" 2>&1 \
    || { tail -n 20 "$cache/packages.log" >&2; exit 1; }
  mv "$root.part" "$root"
  echo "systemd: Debian 12 root in $(($(date +%s) - start)) s, $(du -sh "$root" | cut -f1)" >&2
fi
echo "$root"
