#!/usr/bin/env bash
# Measures rfcard against the simulator, per model: a full set run and a
# full read-back run, wall time and peak memory over RUNS runs (default 15),
# beside the floor of the serial line (--baud-timing), the start-up of a bare
# Qt program and a reference program that does only the work every such run
# must do (bench/minimal.cpp), both built here. Then the read-back through the
# ser2net/socat chain of "Cards on another host"; read-back and set runs
# behind a USB serial adapter's latency timer of 16 ms and of 1 ms, which is
# what low latency sets (rfcard-sim --latency); and rfcard-strict beside
# rfcard: its read-back, and its set run verified and not (bench/bench.py
# --strict-only measures that one alone).
#   bench/run.sh [RUNS]      (BUILD_DIR: the build to measure, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
bash scripts/deps.sh python3 pkg-config time ser2net socat python3-pyvisa-py
if [ ! -x "$build/rfcard" ] || [ ! -x "$build/rfcard-sim" ] || [ ! -x "$build/rfcard-strict" ] \
    || [ ! -x "$build/rfcardd" ]; then
    BUILD_DIR=$build bash scripts/build.sh >/dev/null
fi
mkdir -p "$build/bench"
# shellcheck disable=SC2046 # pkg-config prints one flag per word
g++ -O2 -fPIC -o "$build/bench/bareqt" bench/bareqt.cpp $(pkg-config --cflags --libs Qt5Core)
# shellcheck disable=SC2046
g++ -O2 -fPIC -o "$build/bench/minimal" bench/minimal.cpp \
    $(pkg-config --cflags --libs Qt5Core Qt5SerialPort)
python3 bench/bench.py --runs "${1:-15}" --tool "$PWD/$build/rfcard" \
    --sim "$PWD/$build/rfcard-sim" --bare "$PWD/$build/bench/bareqt" \
    --minimal "$PWD/$build/bench/minimal" --chain "$PWD/scripts/chain.sh" \
    --strict "$PWD/$build/rfcard-strict"
/usr/bin/python3 bench/daemon.py --runs "${1:-15}" --rfcardd "$PWD/$build/rfcardd" \
    --sim "$PWD/$build/rfcard-sim" --strict "$PWD/$build/rfcard-strict"
