#!/usr/bin/env bash
# The bash completions of rfcard, rfcard-strict, rfcard-sim and rfcardd,
# sourced as bash-completion would and asked for the candidates of command
# lines.
#   completion.sh DIR   (DIR holds the completion files)
set -uo pipefail
dir=$1
. "$(dirname "$0")/lib.sh"
harness completion
. "$dir/rfcard-strict" # brings rfcard's along, as it does when installed
. "$dir/rfcard-sim"
. "$dir/rfcardd"

# Serial devices of a made-up /dev.
export _RFCARD_DEV=$work _RFCARD_RUN=$work/run d=$work
mkdir -p "$d/serial/by-id" "$d/pts" "$d/run"
/usr/bin/python3 -c "import socket; socket.socket(socket.AF_UNIX).bind('$d/run/lab.sock')"
touch "$d/serial/by-id/usb-Serial_Adapter_A1-if00-port0" "$d/ttyUSB0" "$d/ttyACM1" "$d/ttyS0" \
  "$d/pts/3" "$d/null"

# candidates "WORDS OF THE LINE": what the completion offers for the last
# word ('' for a new, empty word), sorted, one line.
candidates() {
  eval "COMP_WORDS=($1)"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
  "$(complete -p "${COMP_WORDS[0]}" | sed -E 's/.*-F ([^ ]+) .*/\1/')"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' '
}
expect() { # LINE EXPECTED-CANDIDATES
  local got want
  got=$(candidates "$1") want=$(printf '%s\n' $2 | sed '/^$/d' | sort | tr '\n' ' ')
  check "[$1] got [$got] expected [$want]" test "$got" = "$want"
}

options="--card --com --part --ch --gch --freq --gain --outfreq --ref --workmode --band --gainmode
--upfreq --upgain --help --version"
expect "rfcard ''" "$options"
expect "rfcard-strict ''" "$options --service"
expect "rfcard-strict --service ''" "lab"
expect "rfcard-strict --service lab --ch 1 --se" "--service"
expect "rfcard --c" "--card --com --ch"
expect "rfcard --card ''" "vn2810 jq5140 klr620 jq5120"
expect "rfcard --card jq" "jq5140 jq5120"
expect "rfcard-strict --card JQ51" "jq5140 jq5120"
expect "rfcard --card = k" "klr620"
expect "rfcard -card ''" "vn2810 jq5140 klr620 jq5120"
expect "rfcard --ch ''" "0 1 2 3"
expect "rfcard --part 1 --gch ''" "0 1 2 3"
expect "rfcard --part ''" "0 1 2"
expect "rfcard --com ''" "$d/serial/by-id/usb-Serial_Adapter_A1-if00-port0 $d/ttyUSB0 $d/ttyACM1 $d/ttyS0"
expect "rfcard --com $d/tty" "$d/ttyUSB0 $d/ttyACM1 $d/ttyS0"
expect "rfcard --com $d/pt" "$d/pts"
expect "rfcard --freq ''" ""
expect "rfcard --card jq5140 --freq 1500 --w" "--workmode"
expect "rfcard --card=jq5140 --g" "--gch --gain --gainmode"
# After the first argument that is no option, rfcard reads no more options.
expect "rfcard --ch 1 freq --g" ""
expect "rfcard --help --v" "--version"

sim_options="--family --link --port --state --fault --trace --baud-timing --delay --late-ms
--split-pause --latency --unplug-after --temp --power --type --warning --help --version"
expect "rfcard-sim ''" "$sim_options"
expect "rfcard-sim --family ''" "jq vn klr"
expect "rfcard-sim --family vn --fault ''" \
    "no-reply short long wrong-code status51 status53 split garbage late keep-old"
expect "rfcard-sim --family klr --fault ''" "no-reply short long wrong-code split garbage late keep-old"
expect "rfcard-sim --fault s" "short status51 status53 split"
expect "rfcard-sim --port $d/ttyA" "$d/ttyACM1"
expect "rfcard-sim --trace --t" "--trace --temp --type"

expect "rfcardd --c" "--card --com"
expect "rfcardd --card v" "vn2810"
expect "rfcardd --com $d/ttyU" "$d/ttyUSB0"

summary
