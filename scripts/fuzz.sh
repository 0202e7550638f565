#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UBSan, libFuzzer) and
# runs each one: first over its corpus in fuzz/corpus (earlier findings and
# seeds made from real frames, files and command lines), then for SECONDS
# seconds of new inputs. A finding stops the script; its input is written
# to $BUILD_DIR/findings/ and belongs in fuzz/corpus/<target>/ once fixed.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(replies settings cmdline simrequests scpi vxi11 hislip)
build="$(realpath -m "${BUILD_DIR:-build-fuzz}")"
seeds="$(pwd)/fuzz/corpus"

if [ ! -x "$build/fuzz/fuzz_replies" ]; then
  CC=clang CXX=clang++ BUILD_DIR="$build" bash scripts/build.sh \
    -DRFCARD_FUZZ=ON -DRFCARD_SANITIZE=ON -DRFCARD_BUILD_TESTS=OFF
fi

# The suppressions name a Qt function; Qt is built without frame pointers, so
# leaks are traced with the slow unwinder to see through it.
export LSAN_OPTIONS="suppressions=$(pwd)/fuzz/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="fast_unwind_on_malloc=0"
mkdir -p "$build/findings"
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work"
  echo "== fuzz_$t: corpus, then ${seconds}s"
  set +e
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -close_fd_mask=1 -timeout=10 \
    -artifact_prefix="$build/findings/$t-" -print_final_stats=1 "$work" "$seeds/$t" \
    >"$build/fuzz_$t.log" 2>&1
  status=$?
  set -e
  grep -E '(INITED|DONE) |stat::number_of_executed_units|ERROR|SUMMARY' "$build/fuzz_$t.log" || true
  if [ $status -ne 0 ] || ls "$build/findings/$t-"* >/dev/null 2>&1; then
    tail -n 40 "$build/fuzz_$t.log"
    echo "fuzz_$t found a crashing input:"; ls "$build/findings/$t-"*
    exit 1
  fi
done
echo "fuzzing: no findings"
