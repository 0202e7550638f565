#!/usr/bin/env bash
# The bash completions of rfcard, rfcard-strict and rfcard-sim, sourced as
# bash-completion would and asked for the candidates of command lines.
#   completion.sh DIR   (DIR holds the three completion files)
set -uo pipefail
dir=$1
. "$dir/rfcard-strict" # brings rfcard's along, as it does when installed
. "$dir/rfcard-sim"

# Serial devices of a made-up /dev.
export _RFCARD_DEV=$(mktemp -d)
trap 'rm -rf "$_RFCARD_DEV"' EXIT
mkdir -p "$_RFCARD_DEV/serial/by-id" "$_RFCARD_DEV/pts"
touch "$_RFCARD_DEV/serial/by-id/usb-FTDI_FT232R-if00-port0" "$_RFCARD_DEV/ttyUSB0" \
    "$_RFCARD_DEV/ttyACM1" "$_RFCARD_DEV/ttyS0" "$_RFCARD_DEV/pts/3" "$_RFCARD_DEV/null"
d=$_RFCARD_DEV

passed=0 failed=0
# check "WORDS OF THE LINE" "EXPECTED CANDIDATES": the last word is the one
# being completed ('' for a new, empty word).
check()
{
    local line=$1 expected=$2
    eval "COMP_WORDS=($line)"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    local fn
    fn=$(complete -p "${COMP_WORDS[0]}" | sed -E 's/.*-F ([^ ]+) .*/\1/')
    "$fn"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ')
    expected=$(printf '%s\n' $expected | sed '/^$/d' | sort | tr '\n' ' ')
    if [[ $got == "$expected" ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: [$line] got [$got] expected [$expected]"
    fi
}

options="--card --com --part --ch --gch --freq --gain --outfreq --ref --workmode --band --gainmode
--upfreq --upgain --help --version"
check "rfcard ''" "$options"
check "rfcard-strict ''" "$options"
check "rfcard --c" "--card --com --ch"
check "rfcard --card ''" "vn2810 jq5140 klr620 jq5120"
check "rfcard --card jq" "jq5140 jq5120"
check "rfcard-strict --card JQ51" "jq5140 jq5120"
check "rfcard --card = k" "klr620"
check "rfcard -card ''" "vn2810 jq5140 klr620 jq5120"
check "rfcard --ch ''" "0 1 2 3"
check "rfcard --part 1 --gch ''" "0 1 2 3"
check "rfcard --part ''" "0 1 2"
check "rfcard --com ''" "$d/serial/by-id/usb-FTDI_FT232R-if00-port0 $d/ttyUSB0 $d/ttyACM1 $d/ttyS0"
check "rfcard --com $d/tty" "$d/ttyUSB0 $d/ttyACM1 $d/ttyS0"
check "rfcard --com $d/pt" "$d/pts"
check "rfcard --freq ''" ""
check "rfcard --card jq5140 --freq 1500 --w" "--workmode"
check "rfcard --card=jq5140 --g" "--gch --gain --gainmode"
# After the first argument that is no option, rfcard reads no more options.
check "rfcard --ch 1 freq --g" ""
check "rfcard --help --v" "--version"

sim_options="--family --link --port --state --fault --trace --baud-timing --delay --late-ms
--split-pause --latency --unplug-after --temp --power --type --warning --help --version"
check "rfcard-sim ''" "$sim_options"
check "rfcard-sim --family ''" "jq vn klr"
check "rfcard-sim --family vn --fault ''" \
    "no-reply short long wrong-code status51 status53 split garbage late keep-old"
check "rfcard-sim --family klr --fault ''" "no-reply short long wrong-code split garbage late keep-old"
check "rfcard-sim --fault s" "short status51 status53 split"
check "rfcard-sim --port $d/ttyA" "$d/ttyACM1"
check "rfcard-sim --trace --t" "--trace --temp --type"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
