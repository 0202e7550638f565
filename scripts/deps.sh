#!/usr/bin/env bash
# Installs what building and testing rfcard needs on Debian 12, skipping what
# is already there. Run as root (or with sudo available).
set -euo pipefail

packages=(cmake make g++ pkg-config qtbase5-dev libqt5serialport5-dev)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
