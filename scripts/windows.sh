#!/usr/bin/env bash
# Builds rfcard.exe, rfcard-strict.exe and rfcardd.exe for 64-bit Windows here,
# on Debian, and packs them as rfcard-VERSION-win64.zip: static programs that need no
# DLL beside Windows' own, with the licences, a text on use and the manual
# pages as text.
#   scripts/windows.sh [BUILD_DIR]        (default build-win)
# Qt for Windows is cross-built once from sources (scripts/winqt.sh, about
# 12 minutes on two cores) and kept outside the clone, keyed by the Qt
# version and the recipe, so that later runs take a minute:
#   RFCARD_WINQT_CACHE     where (default ~/.cache/rfcard/winqt)
#   RFCARD_QTSERIALPORT    Qt Serial Port 5.15.8's source, an archive or an
#                          unpacked tree; scripts/qtsource.sh says where else
#                          it is looked for and how it is checked
# qtbase comes from Debian's own source package (Qt 5.15.8 with Debian's
# fixes); apt-get source needs a deb-src entry, which is added when missing.
# Exit status 3: Qt is to be built and no Qt Serial Port source can be had.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
version=$(sed -n 's/^project(rfcard VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
bash scripts/deps.sh g++-mingw-w64-x86-64-posix dpkg-dev perl python3 xz-utils zip unzip git \
  groff-base bsdextrautils

cache=${RFCARD_WINQT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/rfcard/winqt}
recipe=$( (cat scripts/winqt.sh; x86_64-w64-mingw32-g++-posix -dumpfullversion) | sha256sum)
prefix=$cache/qt-5.15.8-${recipe:0:12}
if [ ! -f "$prefix/lib/libQt5SerialPort.a" ] || [ ! -f "$prefix/lib/libQt5Network.a" ]; then
  mkdir -p "$cache"
  # Prefixes of other recipes, and sources a killed build left, are of no more use.
  find "$cache" -mindepth 1 -maxdepth 1 \( -name 'qt-5.15.8-*' -o -name 'src.*' \) \
    ! -path "$prefix" -exec rm -rf {} +
  rm -rf "$prefix"
  src=$(mktemp -d "$cache/src.XXXXXX")
  trap 'rm -rf "$src"' EXIT
  serialport=$src/qtserialport-5.15.8.tar
  bash scripts/qtsource.sh "$serialport" "$cache"
  if ! (cd "$src" && apt-get source --download-only -qq qtbase-opensource-src) >/dev/null 2>&1; then
    echo "windows: adding a deb-src entry for Debian's sources"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        >/etc/apt/sources.list.d/rfcard-deb-src.sources
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/rfcard-deb-src.list
    fi
    bash scripts/apt-get.sh update -qq
    (cd "$src" && apt-get source --download-only -qq qtbase-opensource-src)
  fi
  (cd "$src" && dpkg-source -x --no-check ./*.dsc qtbase >/dev/null)
  echo "windows: building Qt for Windows into $prefix (about 12 minutes)"
  start=$(date +%s)
  bash scripts/winqt.sh "$src/qtbase" "$serialport" "$prefix.part" >"$cache/build.log" 2>&1 \
    || { tail -n 30 "$cache/build.log"; rm -rf "$prefix.part"; exit 1; }
  mv "$prefix.part" "$prefix"
  rm -rf "$src"
  echo "windows: Qt built in $(($(date +%s) - start)) s"
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=scripts/mingw-w64.cmake \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release -DRFCARD_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build "$build" -j2 --target rfcard rfcard-strict rfcardd

name=rfcard-$version-win64
stage=$build/$name
rm -rf "$stage" "$build/$name.zip"
mkdir -p "$stage/qt-licenses"
for exe in rfcard rfcard-strict rfcardd; do
  x86_64-w64-mingw32-strip -o "$stage/$exe.exe" "$build/$exe.exe"
done
cp LICENSE "$stage/LICENSE.txt"
cp "$prefix"/licenses/* "$stage/qt-licenses/"
cp packaging/windows/README.txt "$stage/README.txt"
# The manual pages, as text a Windows user can open.
for page in rfcard rfcard-strict rfcard-sim rfcardd; do
  groff -man -Tutf8 -rLL=78n -rHY=0 "man/$page.1" 2>/dev/null | col -bx >"$stage/$page.txt"
done
cat >"$stage/qt-licenses/SOURCE.txt" <<EOF
rfcard.exe, rfcard-strict.exe and rfcardd.exe contain Qt 5.15.8 (Qt Core, Qt
Network and Qt Serial Port), linked statically, under the GNU Lesser General
Public License 3
(LICENSE.LGPL3 here, with the GPL it builds on). Qt's source:
- Qt Core and Qt Network: Debian's source package qtbase-opensource-src 5.15.8
  (apt-get source qtbase-opensource-src on Debian 12), or Qt's own archive
  qtbase-everywhere-opensource-src-5.15.8 from download.qt.io;
- Qt Serial Port: the tag v5.15.8-lts-lgpl of Qt's qtserialport repository.
rfcard's own source, with scripts/winqt.sh, the recipe this Qt was built by,
and scripts/windows.sh, which links the programs, lets you relink them with a
Qt of your own, as the LGPL allows.
EOF
# Windows tools expect CR LF in text files.
sed -i 's/$/\r/' "$stage"/*.txt "$stage"/qt-licenses/*
(cd "$build" && zip -q -r -X "$name.zip" "$name")
echo "windows: $build/$name.zip ($(stat -c %s "$build/$name.zip") bytes)"
