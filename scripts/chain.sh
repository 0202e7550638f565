#!/usr/bin/env bash
# The "Cards on another host" recipe on one machine: each serial DEVICE is
# exported by ser2net on a free loopback TCP port (one port per card, as on
# the card's host), and socat makes LINK, a local pseudo-terminal connected
# to that port (as on the automation host), which rfcard opens like a serial
# port. The ser2net configuration is the README's, with loopback addresses.
# Prints "ready" and one "LINK PORT" line per card once every LINK can be
# opened, then runs until SIGTERM or SIGINT and stops ser2net and socat; ends
# with status 1 if one of them ends first (the chain is broken).
# Usage: scripts/chain.sh WORKDIR DEVICE LINK [DEVICE LINK ...]
#   WORKDIR gets ser2net.yaml, the pid file and the logs. CHAIN_CHARDELAY=false
#   adds "chardelay: false" to every connection (the README's faster variant).
set -euo pipefail
work=$1
shift
(($# > 0 && $# % 2 == 0)) || { echo "usage: $0 WORKDIR DEVICE LINK [DEVICE LINK ...]" >&2; exit 2; }
mkdir -p "$work"

# Ports that no socket on this machine uses (bound, listening or connected).
in_use() {
    awk 'NR > 1 { split($2, a, ":"); print a[2] }' /proc/net/tcp /proc/net/tcp6 2>/dev/null \
        | grep -qix "$(printf '%04x' "$1")"
}
# Whether process $1 listens on port $2 (its socket's inode is among its files).
listening() {
    local inode
    inode=$(awk -v port="$(printf '%04X' "$2")" \
        'NR > 1 && $4 == "0A" { split($2, a, ":"); if (a[2] == port) print $10 }' /proc/net/tcp)
    [ -n "$inode" ] && find "/proc/$1/fd" -lname "socket:\[$inode\]" 2>/dev/null | grep -q .
}
ports=() devices=() links=()
while (($# > 0)); do
    devices+=("$1") links+=("$2")
    shift 2
    for ((try = 0; ; ++try)); do
        p=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
        in_use "$p" || [[ " ${ports[*]} " == *" $p "* ]] || break
        ((try < 100)) || { echo "chain: no free TCP port" >&2; exit 1; }
    done
    ports+=("$p")
done

{
    echo '%YAML 1.1'
    echo '---'
    for i in "${!devices[@]}"; do
        cat <<EOF
connection: &card$i
    accepter: tcp(nodelay),127.0.0.1,${ports[i]}
    enable: on
    connector: serialdev,${devices[i]},115200n81,local
    options:
      kickolduser: true
EOF
        [ -z "${CHAIN_CHARDELAY:-}" ] || echo "      chardelay: $CHAIN_CHARDELAY"
    done
} >"$work/ser2net.yaml"

pids=()
# shellcheck disable=SC2317 # run by the trap
stop() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap stop EXIT
trap 'exit 0' TERM INT

# In the foreground (-n), with its own configuration and pid file: the
# system's ser2net, if any, is left alone.
ser2net -n -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
pids+=($!)
for i in "${!ports[@]}"; do
    for ((t = 0; t < 100; ++t)); do
        listening "${pids[0]}" "${ports[i]}" && break
        kill -0 "${pids[0]}" 2>/dev/null || break
        sleep 0.05
    done
    listening "${pids[0]}" "${ports[i]}" || {
        cat "$work/ser2net.log" >&2
        echo "chain: ser2net does not listen on port ${ports[i]}" >&2
        exit 1
    }
done

for i in "${!links[@]}"; do
    socat pty,link="${links[i]}",rawer "tcp:127.0.0.1:${ports[i]},nodelay" \
        >"$work/socat-$i.log" 2>&1 &
    pids+=($!)
done
for i in "${!links[@]}"; do
    for ((t = 0; t < 100; ++t)); do
        [ -e "${links[i]}" ] && break
        sleep 0.05
    done
    [ -e "${links[i]}" ] || { echo "chain: socat made no ${links[i]}" >&2; exit 1; }
done

echo ready
for i in "${!links[@]}"; do echo "${links[i]} ${ports[i]}"; done
wait -n
echo "chain: ser2net or socat ended" >&2
exit 1
