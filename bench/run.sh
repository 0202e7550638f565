#!/usr/bin/env bash
# Measures rfcard against the simulator, per model: a full set run and a
# full read-back run, wall time and peak memory over RUNS runs (default 15),
# beside the floor of the serial line (--baud-timing) and the start-up of a
# bare Qt program built here.
#   bench/run.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh python3 pkg-config time
[ -x build/rfcard ] && [ -x build/rfcard-sim ] || bash scripts/build.sh >/dev/null
mkdir -p build/bench
g++ -O2 -fPIC -o build/bench/bareqt bench/bareqt.cpp $(pkg-config --cflags --libs Qt5Core)
python3 bench/bench.py --runs "${1:-15}" --tool "$PWD/build/rfcard" --sim "$PWD/build/rfcard-sim" --bare "$PWD/build/bench/bareqt"
