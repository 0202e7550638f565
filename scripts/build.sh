#!/usr/bin/env bash
# Configures and builds rfcard into build/ (or the folder given as $BUILD_DIR,
# with the build type $BUILD_TYPE, RelWithDebInfo by default). Extra
# arguments go to the CMake configure step, e.g. -DRFCARD_QT_MAJOR=6.
# $BUILD_TARGETS (space-separated) builds only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
targets=()
for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j2 "${targets[@]}"
