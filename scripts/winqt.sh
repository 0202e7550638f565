#!/usr/bin/env bash
# The recipe for the Qt that rfcard.exe links: Qt 5.15.8 Core, Network (for
# rfcardd and rfcard-strict --service) and Serial Port, cross-built with
# MinGW-w64 for 64-bit Windows, static, and only what rfcard needs (no GUI,
# no TLS, no ICU; the text codecs, GBK among them, stay in).
# scripts/windows.sh runs it when its cache has no prefix built by this very
# file (the cache key is this file's checksum), so a change here rebuilds.
#   scripts/winqt.sh QTBASE_SRC SERIALPORT_TARBALL PREFIX
# QTBASE_SRC is an unpacked qtbase source tree (it is built in place and can
# be removed afterwards); PREFIX must not exist yet.
set -euo pipefail
src=$(realpath "$1") serialport=$(realpath "$2") prefix=$3
[ ! -e "$prefix" ] || { echo "winqt: $prefix exists" >&2; exit 2; }
jobs=${JOBS:-2}

# The MinGW tools by their plain names, always the POSIX-threads variant
# (Qt 5.15's Core needs std::thread and friends), whatever the system's
# alternatives point to.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tools"
for t in gcc g++ ar ranlib nm strip objcopy windres ld; do
  for c in "/usr/bin/x86_64-w64-mingw32-$t-posix" "/usr/bin/x86_64-w64-mingw32-$t"; do
    [ -x "$c" ] && { ln -s "$c" "$work/tools/x86_64-w64-mingw32-$t"; break; }
  done
done
export PATH="$work/tools:$PATH"

cd "$src"
./configure -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
  -prefix "$prefix" -extprefix "$prefix" -hostprefix "$prefix" \
  -opensource -confirm-license -release -static -static-runtime \
  -nomake examples -nomake tests -no-pch \
  -no-gui -no-widgets -no-opengl -no-dbus -no-icu -no-openssl -no-sql-sqlite \
  -qt-zlib -qt-pcre -no-zstd \
  -silent
# Qt Core with the bundled PCRE2 it links, Qt Network, the host tools moc
# and rcc (qmake is built already), and the WinMain library that Qt's CMake
# files expect to find; nothing else of qtbase.
(cd src && ../bin/qmake -o Makefile src.pro)
make -j"$jobs" -C src sub-corelib sub-network sub-winmain sub-rcc
# Installs qmake, the platform configurations it reads and Qt's own scripts (the top-level
# targets), then what was built, headers and CMake files included.
make install_syncqt install_mkspecs sub-qmake-qmake-aux-pro-install_subtargets
for d in src/tools/moc src/tools/rcc src/3rdparty/pcre2 src/corelib src/network src/winmain; do
  make -C "$d" install
done
# The licences a program that links this Qt ships with.
mkdir "$prefix/licenses"
cp LICENSE.LGPL3 LICENSE.GPL3 LICENSE.GPL2 "$prefix/licenses/"

# Qt Serial Port, from its source archive (an export of the git tag, so an
# empty .git makes qmake generate the forwarding headers, as in a checkout).
tar -xf "$serialport" -C "$work"
sp=$(echo "$work"/qtserialport-*)
mkdir -p "$sp/.git"
(cd "$sp" && "$prefix/bin/qmake" && make -j"$jobs" && make install)
echo "winqt: Qt for Windows installed in $prefix"
