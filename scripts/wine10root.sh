#!/usr/bin/env bash
# Makes, once, a Debian 13 root with Wine 10 for tests/wine.sh, and prints
# its path. Debian 12's Wine 8 cannot deliver a received byte to Qt Serial
# Port (docs/windows.md), Wine 10 can. The root is debootstrapped from the
# archive this machine's apt uses and kept in RFCARD_WINE_ROOT_CACHE (default
# ~/.cache/rfcard/wine10), under a name made of this file's checksum, so that
# a changed recipe builds anew. About a minute and 2 GB the first time.
# Root only (debootstrap, chroot).
set -euo pipefail
cd "$(dirname "$0")/.."
cache=${RFCARD_WINE_ROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/rfcard/wine10}
recipe=$(sha256sum <scripts/wine10root.sh)
root=$cache/trixie-${recipe:0:12}
if [ ! -x "$root/usr/lib/wine/wine64" ]; then
  bash scripts/deps.sh debootstrap >&2
  mirror=$(sed -n 's/^URIs: *\([^ ]*\/debian\)$/\1/p; s/^deb \([^ ]*\/debian\) .*/\1/p' \
    /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -n 1 || true)
  mkdir -p "$cache"
  find "$cache" -mindepth 1 -maxdepth 1 -name 'trixie-*' ! -path "$root" -exec rm -rf {} +
  rm -rf "$root"
  start=$(date +%s)
  echo "wine: making a Debian 13 root with Wine 10 in $root" >&2
  debootstrap --variant=minbase trixie "$root.part" "${mirror:-http://deb.debian.org/debian}" \
    >"$cache/debootstrap.log" 2>&1 || { tail -n 20 "$cache/debootstrap.log" >&2; exit 1; }
  unshare --mount --propagation private bash -ec '
    mount -t proc proc "$1/proc"
    chroot "$1" apt-get -qq update
    DEBIAN_FRONTEND=noninteractive chroot "$1" apt-get install -y -qq --no-install-recommends \
      wine64 wine bsdutils
    chroot "$1" apt-get clean
    chroot "$1" /usr/lib/wine/wine64 --version' bash "$root.part" >"$cache/wine.log" 2>&1 \
    || { tail -n 20 "$cache/wine.log" >&2; exit 1; }
  mv "$root.part" "$root"
  echo "wine: Debian 13 with $(tail -n 1 "$cache/wine.log") in $(($(date +%s) - start)) s," \
    "$(du -sh "$root" | cut -f1)" >&2
fi
echo "$root"
