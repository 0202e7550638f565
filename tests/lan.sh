#!/usr/bin/env bash
# The cards as LAN instruments, as labs reach them: two network namespaces
# this script makes and joins with a veth pair, so that nothing reaches the
# machine's own interfaces. "bench" (10.201.0.1) is the instrument host: four
# cards played by rfcard-sim, each its own rfcardd, and the front that hands
# HiSLIP and VXI-11 connections to them, with rpcbind and an Avahi daemon of
# its own (each namespace has a private /run and D-Bus). "lab" (10.201.0.2)
# is a lab PC: Debian's pyvisa-py over VXI-11, lxi-tools, avahi-browse, and
# pyvisa 1.16 with pyvisa-py 0.8 over HiSLIP when their sources are beside
# the clone.
#   tests/lan.sh [BUILD_DIR]   (root)
set -uo pipefail
cd "$(dirname "$0")/.."
. tests/lib.sh
harness lan
need_root
build=$(realpath "${1:-build}")
bash scripts/deps.sh iproute2 rpcbind avahi-daemon avahi-utils dbus lxi-tools \
  python3-pyvisa-py python3-typing-extensions python3-psutil >/dev/null
visa16=""
third=$(realpath -m ../shared/third_party)
if [ -f "$third/pyvisa-1.16.2.tar.xz" ] && [ -f "$third/pyvisa-py-0.8.1.tar.xz" ]; then
  for a in pyvisa-1.16.2 pyvisa-py-0.8.1; do tar -xf "$third/$a.tar.xz" -C "$work"; done
  visa16=$work/pyvisa-1.16.2:$work/pyvisa-py-0.8.1
else
  echo "lan: no pyvisa 1.16 with pyvisa-py 0.8 beside the clone: the HiSLIP client checks skip"
fi

bench=rfcard-bench-$$ lab=rfcard-lab-$$
ip netns add "$bench" && ip netns add "$lab" || { echo "lan: cannot make network namespaces"; exit 2; }
on_exit "ip netns del $bench; ip netns del $lab"
# Whatever runs there ends with the suite.
on_exit "ip netns pids $bench | xargs -r kill; ip netns pids $lab | xargs -r kill"
ip link add veth-b netns "$bench" type veth peer name veth-l netns "$lab"
ip -n "$bench" addr add 10.201.0.1/24 broadcast 10.201.0.255 dev veth-b
ip -n "$lab" addr add 10.201.0.2/24 broadcast 10.201.0.255 dev veth-l
for ns in "$bench" "$lab"; do
  ip -n "$ns" link set lo up
  ip -n "$ns" link set "veth-${ns:7:1}" up
done

# inns NS COMMAND...: in the namespace, with a /run, a D-Bus and an Avahi
# daemon of its own, and on the bench rpcbind.
inns() {
  local ns=$1; shift
  ip netns exec "$ns" unshare -m --propagation private bash -c '
    mount -t tmpfs tmpfs /run && mkdir -p /run/dbus /run/rpcbind /run/avahi-daemon
    dbus-daemon --system --fork
    for t in $(seq 100); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.05; done
    avahi-daemon --no-drop-root --no-chroot -D
    [ "$1" = bench ] && rpcbind -w
    shift
    "$@"' bash "$( [ "$ns" = "$bench" ] && echo bench || echo lab)" "$@"
}

# The bench: the cards, their services, the front.
cards=$work/cards
mkdir -p "$cards"
bench_up() {
  local name model family args
  for card in "lab VN2810 vn" "klr KLR620 klr --warning 3" "jq4 JQ5140 jq" "jq2 JQ5120 jq"; do
    read -r name model family args <<<"$card"
    "$build/rfcard-sim" --family "$family" $args >"$work/sim-$name.out" 2>/dev/null &
    until [ -s "$work/sim-$name.out" ]; do sleep 0.05; done
    printf 'CARD=%s\nCOM=%s\n' "$model" "$(head -n 1 "$work/sim-$name.out")" >"$cards/$name.conf"
    "$build/rfcardd" --name "$name" --conf "$cards/$name.conf" --handoff "$cards/$name.handoff" \
      >/dev/null 2>"$work/$name.log" &
  done
  until [ "$(ls "$cards"/*.handoff 2>/dev/null | wc -l)" = 4 ]; do sleep 0.05; done
  "$build/rfcardd" --front --cards "$cards" --confs "$cards" --default-card lab \
    --hislip 10.201.0.1:4880 --vxi11 10.201.0.1:0 >"$work/front.out" 2>"$work/front.log" &
  until [ -s "$work/front.out" ]; do sleep 0.05; done
  touch "$work/bench-up"
  sleep 600
}
export -f bench_up
export build work cards
inns "$bench" bench_up &
on_exit "kill $!"
for ((t = 0; t < 600; ++t)); do [ -e "$work/bench-up" ] && break; sleep 0.1; done
check "the bench is up" test -e "$work/bench-up"

# The lab PC's clients.
lab_checks() {
  set +e
  # VXI-11 with Debian's pyvisa-py 0.5: every model, by the default name and its own.
  /usr/bin/python3 - <<'PY'
import time, pyvisa
rm = pyvisa.ResourceManager("@py")
for name in ["", "lab", "klr", "jq4", "jq2"]:
    c = rm.open_resource(f"TCPIP::10.201.0.1::{name + '::' if name else ''}INSTR", timeout=10000)
    c.write("CHAN2:FREQ 1500")
    print("vxi11", name or "inst0", c.query("*IDN?").split(",")[1], c.query("CHAN2:FREQ?;:SYST:ERR?").strip())
    c.lock_excl()
    c.clear()
    c.unlock()
c = rm.open_resource("TCPIP::10.201.0.1::klr::INSTR")  # its warning, as the service reads it
c.write("STAT:QUES:ENAB 512")
for _ in range(100):
    if c.read_stb() & 8:
        break
    time.sleep(0.1)
print("vxi11 stb", c.read_stb() & 8)
PY
  if [ -n "$visa16" ]; then  # HiSLIP with pyvisa 1.16, every card by its sub-address
    PYTHONPATH=$visa16 /usr/bin/python3 - <<'PY'
import pyvisa
rm = pyvisa.ResourceManager("@py")
for name in ["hislip0", "hislip_klr", "hislip_jq4", "hislip_jq2"]:
    c = rm.open_resource(f"TCPIP::10.201.0.1::{name}::INSTR", timeout=10000)
    c.write("CHAN1:FREQ 1600")
    print("hislip", name, c.query("*IDN?").split(",")[1], c.query("CHAN1:FREQ?").strip(), c.read_stb() & 8)
print("list", " ".join(rm.list_resources("TCPIP?*::INSTR")))  # VXI-11's broadcast
PY
  fi
  echo "lxi $(lxi scpi -a 10.201.0.1 '*IDN?')"
  avahi-browse -rtp _hislip._tcp | awk -F';' '$1 == "=" && $3 == "IPv4" { print "mdns", $4, $9 }' | sort -u
  lxi discover -m 2>&1 | sed 's/^/lxi-discover /'
}
export -f lab_checks
export visa16
inns "$lab" lab_checks >"$work/lab.out" 2>"$work/lab.err"
out=$(cat "$work/lab.out")
for name in inst0 lab; do
  check "VXI-11 $name: the VN2810 set and read back" grep -qx "vxi11 $name VN2810 1500.000;0,\"No error\"" <<<"$out"
done
check "VXI-11 klr: the KLR620" grep -qx 'vxi11 klr KLR620 1500.000;0,"No error"' <<<"$out"
check "VXI-11 jq4: the JQ5140" grep -qx 'vxi11 jq4 JQ5140 1500.000;0,"No error"' <<<"$out"
check "VXI-11 jq2: the JQ5120" grep -qx 'vxi11 jq2 JQ5120 1500.000;0,"No error"' <<<"$out"
check "read_stb: the KLR620's warning is QUEStionable" grep -qx "vxi11 stb 8" <<<"$out"
if [ -n "$visa16" ]; then
  for name in hislip0 hislip_klr hislip_jq4 hislip_jq2; do
    check "HiSLIP $name" grep -qE "^hislip $name [A-Z0-9]+ 1600.000 (0|8)$" <<<"$out"
  done
  check "pyvisa-py lists the host by VXI-11's broadcast" grep -q "TCPIP::10.201.0.1::INSTR" <<<"$out"
fi
check "lxi-tools asks the default card" grep -q "^lxi RFCARD,VN2810," <<<"$out"
check "avahi-browse finds every card's HiSLIP" test "$(grep -c '^mdns .* 4880$' <<<"$out")" = 4
check "lxi discover -m finds every card, both protocols" \
  test "$(grep -c '^lxi-discover   Found "[a-z0-9]* ([A-Z0-9]*)" on address 10.201.0.1' <<<"$out")" = 8
check "the audit names the lab PC" grep -q "10.201.0.2:[0-9]* (VXI-11): VN2810 CHANnel2:FREQuency 1500: verified" "$work/lab.log"
((failed == 0)) || tail -n 40 "$work/lab.out" "$work/lab.err"
summary
