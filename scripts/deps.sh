#!/usr/bin/env bash
# Installs what building and testing rfcard needs on Debian 12, skipping what
# is already there. Run as root (or with sudo available). Another apt at work
# (unattended upgrades hold the lock for minutes) is waited for, not failed
# on: every apt-get of the scripts goes through scripts/apt-get.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ pkg-config qtbase5-dev libqt5serialport5-dev libavahi-client-dev)
# VXI-11: libtirpc and rpcgen (rfcardd's RPC layer).
packages+=(libtirpc-dev rpcsvc-proto)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
bash scripts/apt-get.sh update -qq
DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh install -y -qq --no-install-recommends \
  "${missing[@]}"
