#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
rm -rf build-test
BUILD_DIR=build-test bash scripts/build.sh
ctest --test-dir build-test --output-on-failure -j2
