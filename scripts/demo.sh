#!/usr/bin/env bash
# The tool's main job against a simulated VN2810: install what is missing,
# build rfcard, rfcard-strict and rfcard-sim (not the tests), start
# rfcard-sim, set channel 1, read it back as JSON, then let rfcard-strict
# refuse a gain the card does not take and set (and verify) one it does.
# The tools' logs go to build/demo.log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
BUILD_TARGETS="rfcard rfcard-strict rfcard-sim" bash scripts/build.sh

sim_out=$(mktemp)
build/rfcard-sim --family vn --temp 31.5 --type 2 >"$sim_out" &
sim=$!
trap 'kill $sim 2>/dev/null; rm -f "$sim_out"' EXIT
until [ -s "$sim_out" ]; do sleep 0.05; done
port=$(head -n 1 "$sim_out")
echo "simulated VN2810 on $port"

run() {
  echo "+ $*"
  local rc=0
  "build/$@" 2>>build/demo.log || rc=$?
  [ "$1" = rfcard ] || echo "(status $rc)"
}
run rfcard --card vn2810 --com "$port" --ch 1 --freq 1500 --gain 12.5 --outfreq 21.4
run rfcard --part 1 --gch 1
run rfcard-strict --ch 1 --gain 41
run rfcard-strict --ch 1 --gain 40
