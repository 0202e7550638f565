#!/usr/bin/env bash
# rfcard through the recipe of docs/remote.md, on loopback (scripts/chain.sh).
#   tests/remote.sh [BUILD_DIR]   (default build-test)
set -uo pipefail
cd "$(dirname "$0")/.."
. tests/lib.sh
harness remote
build=${1:-build-test}
bash scripts/deps.sh ser2net socat >/dev/null

chain=()
for c in "jq --family jq --temp 31.7 --power -12.3" "vn --family vn --type 2 --temp 28.4" \
  "klr --family klr" "vnfault --family vn --fault wrong-code:2" \
  "jqsplit --family jq --fault split --split-pause 10 --trace"; do
  read -r name args <<<"$c"
  # shellcheck disable=SC2086 # the options are words
  sim "dev_$name" "$build" $args --link "$work/card-$name"
  chain+=("$work/card-$name" "$work/tty-$name")
done
bash scripts/chain.sh "$work/chain" "${chain[@]}" >"$work/chain.out" 2>"$work/chain.err" &
chain_pid=$!
on_exit "kill $chain_pid; wait $chain_pid"
for ((t = 0; t < 200; ++t)); do
  grep -q '^ready' "$work/chain.out" 2>/dev/null || ! kill -0 $chain_pid 2>/dev/null && break
  sleep 0.05
done
grep -q '^ready' "$work/chain.out" || { cat "$work/chain.err"; echo "harness: no chain"; exit 2; }
mkdir "$work/bin" && cp "$build/rfcard" "$work/bin/" # its settings file goes beside it

# run NAME CARD "OPTIONS" "EXPECTED key=value ..." [ERROR TEXT]: status 0,
# the members, and the error text or none.
run() {
  local name=$1 card=$2 kv out
  # shellcheck disable=SC2086 # the options are words
  out=$(timeout 60 "$work/bin/rfcard" --com "$work/tty-$card" $3 2>&1)
  check "$name: status 0" test $? -eq 0
  for kv in ${4:-}; do check "$name: $kv" grep -qF "\"${kv%%=*}\": \"${kv#*=}\"" <<<"$out"; done
  if [ -n "${5:-}" ]; then check "$name: says $5" grep -qF "$5" <<<"$out"
  else check "$name: no error" fails grep -qi error <<<"$out"; fi
}
run "JQ5140 set" jq "--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0 --ref 1 --outfreq 140"
run "JQ5140 read-back" jq "--part 1 --gch 2" \
  "ch=2 freq=1500.000 gain=20.5 outfreq=1 power=-12 ref=1 temp=31.7 workmode=0"
run "JQ5120 set" jq "--card jq5120 --ch 1 --freq 1200 --gain 30 --ref 0 --band 1"
run "JQ5120 read-back" jq "--part 1 --gch 1" "band=1 freq=1200.000 gain=30.0 ref=0"
run "VN2810 set" vn "--card vn2810 --ch 0 --freq 2400 --gain 12.5 --outfreq 21.4"
run "VN2810 read-back" vn "--part 1 --gch 0" "ch=0 freq=2400.000 gain=12.5 hardch=2 outfreq=1 temp=28.4"
run "KLR620 set" klr "--card klr620 --ch 3 --freq 4200 --gain 20 --workmode 1 --band 3"
run "KLR620 read-back" klr "--part 1 --gch 3" "band=3 ch=3 freq=4200.000 gain=20 warning=0 workmode=1"
# The card's own fault reaches the tool as it was sent.
run "VN2810 fault through the chain" vnfault "--card vn2810 --part 1 --gch 0" \
  "ch=0 freq= gain=0.0 hardch=1 outfreq=0 temp=25" "LModule::RFInterface: Parameter error 03 02"
# Replies in two TCP segments 10 ms apart, read whole.
run "JQ5140 set, replies in pieces" jqsplit "--card jq5140 --ch 1 --freq 2100 --gain 45
  --workmode 1 --ref 0 --outfreq 70"
run "JQ5140 read-back, replies in pieces" jqsplit "--part 1 --gch 1" \
  "ch=1 freq=2100.000 gain=45 outfreq=0 ref=0 workmode=1"
echo "the split card sent $(grep -c 'tx .*fault split' "$work/sim-dev_jqsplit.err") pieces"
check "the chain stayed up" kill -0 $chain_pid
summary
