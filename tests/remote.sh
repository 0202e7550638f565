#!/usr/bin/env bash
# rfcard through the "Cards on another host" recipe, on loopback: simulated
# cards behind ser2net, socat pseudo-terminals on the other side
# (tests/chain.sh), and rfcard on those. For every model a set run and a
# read-back of what was set; a card fault that must pass through the chain
# unchanged; and a card whose every reply comes in two pieces 10 ms apart
# (ser2net passes each piece on as it comes, so the tool must read the reply
# whole across TCP segments). Starts and stops every service itself.
# Usage: tests/remote.sh [BUILD_DIR] (default build-test, with rfcard and
# rfcard-sim built).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
bash scripts/deps.sh ser2net socat

work=$(mktemp -d /tmp/rfcard-remote.XXXXXX)
pids=()
cleanup() {
    local p
    # The chain first: it holds the simulators' devices open.
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 10 s for a file to have a first line.
await() { for ((t = 0; t < 200; ++t)); do [ -s "$1" ] && return; sleep 0.05; done; false; }

# The cards: name, then the simulator's options.
cards=(
    "jq --family jq --temp 31.7 --power -12.3"
    "vn --family vn --type 2 --temp 28.4"
    "klr --family klr"
    "vnfault --family vn --fault wrong-code:2"
    "jqsplit --family jq --fault split --split-pause 10 --trace"
)
chain=()
sims=()
for c in "${cards[@]}"; do
    read -r name args <<<"$c"
    # shellcheck disable=SC2086 # the options are words
    "$build/rfcard-sim" $args --link "$work/card-$name" >"$work/sim-$name.out" \
        2>"$work/sim-$name.err" &
    sims+=($!)
    await "$work/sim-$name.out" || { echo "harness: rfcard-sim $name did not start"; exit 1; }
    chain+=("$work/card-$name" "$work/tty-$name")
done
bash tests/chain.sh "$work/chain" "${chain[@]}" >"$work/chain.out" 2>"$work/chain.err" &
pids+=($!)
pids+=("${sims[@]}")
for ((t = 0; t < 200; ++t)); do
    grep -q '^ready' "$work/chain.out" 2>/dev/null && break
    kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.05
done
grep -q '^ready' "$work/chain.out" || { cat "$work/chain.err"; echo "harness: no chain"; exit 1; }
sed 1d "$work/chain.out" | while read -r link port; do echo "${link##*/}: ser2net port $port"; done

mkdir "$work/bin"
cp "$build/rfcard" "$work/bin/" # its settings file goes beside it

passed=0 failed=0
# check NAME CARD "RFCARD OPTIONS" "EXPECTED MEMBERS key=value" [ERROR TEXT]:
# one rfcard run through the chain to CARD. It must end with status 0 and
# print every expected member; its output (standard output and error) must
# contain ERROR TEXT if given, and no error line otherwise.
check() {
    local name=$1 card=$2 options=$3 members=$4 want_err=${5:-} kv ok=1 why=
    local rc=0
    # shellcheck disable=SC2086 # the options are words
    timeout 60 "$work/bin/rfcard" --com "$work/tty-$card" $options >"$work/out" 2>"$work/err" \
        || rc=$?
    ((rc == 0)) || { ok=0 why+=" status $rc;"; }
    for kv in $members; do
        grep -qF "\"${kv%%=*}\": \"${kv#*=}\"" "$work/out" \
            || { ok=0 why+=" no ${kv%%=*}=${kv#*=};"; }
    done
    if [ -n "$want_err" ]; then
        cat "$work/out" "$work/err" | grep -qF "$want_err" || { ok=0 why+=" no \"$want_err\";"; }
    elif cat "$work/out" "$work/err" | grep -qi error; then
        ok=0 why+=" $(cat "$work/out" "$work/err" | grep -i -m1 error);"
    fi
    if ((ok)); then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name:$why"
        tr '\n' ' ' <"$work/out" | head -c 400
        echo
    fi
}

# A set run and a read-back of the same channel for every model.
check "JQ5140 set" jq "--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0 --ref 1
    --outfreq 140" ""
check "JQ5140 read-back" jq "--part 1 --gch 2" \
    "ch=2 freq=1500.000 gain=20.5 outfreq=1 power=-12 ref=1 temp=31.7 workmode=0"
check "JQ5120 set" jq "--card jq5120 --ch 1 --freq 1200 --gain 30 --ref 0 --band 1" ""
check "JQ5120 read-back" jq "--part 1 --gch 1" "band=1 freq=1200.000 gain=30.0 ref=0"
check "VN2810 set" vn "--card vn2810 --ch 0 --freq 2400 --gain 12.5 --outfreq 21.4" ""
check "VN2810 read-back" vn "--part 1 --gch 0" \
    "ch=0 freq=2400.000 gain=12.5 hardch=2 outfreq=1 temp=28.4"
check "KLR620 set" klr "--card klr620 --ch 3 --freq 4200 --gain 20 --workmode 1 --band 3" ""
check "KLR620 read-back" klr "--part 1 --gch 3" \
    "band=3 ch=3 freq=4200.000 gain=20 warning=0 workmode=1"

# The card's own fault reaches the tool as it was sent: a frequency reply
# that echoes the wrong code is refused, and the other values still read.
check "VN2810 fault through the chain" vnfault "--card vn2810 --part 1 --gch 0" \
    "ch=0 freq= gain=0.0 hardch=1 outfreq=0 temp=25" "LModule::RFInterface: Parameter error 03 02"

# Replies in two TCP segments 10 ms apart, read whole.
check "JQ5140 set, replies in pieces" jqsplit "--card jq5140 --ch 1 --freq 2100 --gain 45
    --workmode 1 --ref 0 --outfreq 70" ""
check "JQ5140 read-back, replies in pieces" jqsplit "--part 1 --gch 1" \
    "ch=1 freq=2100.000 gain=45 outfreq=0 ref=0 workmode=1"
pieces=$(grep -c 'tx .*fault split' "$work/sim-jqsplit.err" || true)
echo "the split card sent $pieces pieces"

# The chain stayed up all along (socat ends when its connection drops).
if kill -0 "${pids[0]}" 2>/dev/null; then
    passed=$((passed + 1))
    echo "ok   chain still up"
else
    failed=$((failed + 1))
    echo "FAIL chain ended: $(cat "$work/chain.err")"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
