#!/usr/bin/env bash
# The shared install as two operators use it: builds the .deb, installs it,
# makes two users in the group dialout and lets each set and read back a
# simulated card. Then each tries what a careless or hostile colleague might:
# replace the program, or plant links and FIFOs in the shared settings folder
# for the other's next run. Root only (CI runs as root); removes the package
# and the users again.
#   tests/sharedinstall.sh [BUILD_DIR]
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
[ "$(id -u)" -eq 0 ] || { echo "needs root"; exit 2; }
bash scripts/deps.sh passwd util-linux >/dev/null

users=(rfcard-op1 rfcard-op2)
work=$(mktemp -d)
chmod 755 "$work"
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  apt-get purge -y -qq rfcard >/dev/null 2>&1
  for u in "${users[@]}"; do userdel "$u" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
passed=0 failed=0
check() { local what=$1; shift; if "$@"; then passed=$((passed + 1)); else
  failed=$((failed + 1)); echo "FAIL: $what"; fi; }
as() { local u=$1; shift; timeout 20 runuser -u "$u" -- "$@"; }
fails() { ! "$@" 2>/dev/null; }

(cd "$build" && cpack -G DEB >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$(ls -t "$build"/rfcard_*.deb | head -n 1)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null \
  || { echo "cannot install $deb"; exit 1; }
getent group dialout >/dev/null || groupadd -r dialout
for u in "${users[@]}"; do
  id "$u" >/dev/null 2>&1 || useradd -M -N -G dialout -s /bin/sh "$u"
done
a=${users[0]} b=${users[1]}
data=/var/lib/rfcard S=/var/lib/rfcard/rfcard.json

echo "== the installed layout"
check "program folder is root's and writable by nobody else" \
  test -z "$(find /opt/rfcard \( ! -user root -o -perm /022 \) ! -type l)"
check "settings link is root's" test "$(stat -c %U "/opt/rfcard/bin/rfcard.json")" = root
check "data folder: group dialout, 2770" test "$(stat -c %G:%a "$data")" = dialout:2770
for cmd in rfcard rfcard-strict rfcard-sim; do
  check "$cmd on the PATH" test "$(readlink -f /usr/bin/$cmd)" = /opt/rfcard/bin/$cmd
  check "$cmd completion" test -f "$(readlink -f /usr/share/bash-completion/completions/$cmd)"
done

echo "== each operator sets, the other reads back"
"$build/rfcard-sim" --family klr >"$work/sim.out" 2>/dev/null &
sim=$!
until [ -s "$work/sim.out" ]; do sleep 0.05; done
port=$(head -n 1 "$work/sim.out")
chgrp dialout "$port" && chmod 660 "$port" # as a serial port is
as "$a" rfcard --card klr620 --com "$port" --ch 1 --freq 2400 --gain 10 --band 3 2>"$work/a.err"
check "$a sets" test $? -eq 0
check "$a saved" test -z "$(grep warning "$work/a.err")"
as "$b" rfcard --part 1 --gch 1 >"$work/b.out" 2>/dev/null
check "$b reads back what $a set" grep -q '"freq": "2400.000"' "$work/b.out"
as "$b" rfcard --ch 2 --freq 1200 --gain 20 --band 2 2>"$work/b.err"
check "$b saves over $a's file" test -z "$(grep warning "$work/b.err")"
as "$a" rfcard --part 1 --gch 2 >"$work/a.out" 2>/dev/null
check "$a reads back what $b set" grep -q '"gain": "20"' "$work/a.out"
check "the settings stay shared" test "$(stat -c %G:%a "$S")" = dialout:664

echo "== nobody can replace the program"
for u in "$a" "$b"; do
  check "$u cannot overwrite rfcard" fails as "$u" cp /bin/true /opt/rfcard/bin/rfcard
  check "$u cannot rename rfcard" fails as "$u" mv /opt/rfcard/bin/rfcard /opt/rfcard/bin/x
  check "$u cannot add to its folder" fails as "$u" touch /opt/rfcard/bin/new
  check "$u cannot move the settings link" \
    fails as "$u" ln -sfn "/tmp/$u" /opt/rfcard/bin/rfcard.json
done

echo "== what one plants does not make the other's run write elsewhere, widen or hang"
mkdir -m 700 "$work/b" && chown "$b" "$work/b"
secret=$work/b/secret
as "$b" sh -c "echo precious >$secret && chmod 600 $secret"
plant() { # NAME COMMAND: $a plants it, $b runs, then it is taken away again
  local name=$1; shift
  cp -p "$S" "$work/kept"
  as "$a" sh -c "$*"
  as "$b" rfcard --ch 3 --gain 7 >/dev/null 2>"$work/run.err"
  check "$name: $b's run ends" test $? -eq 0
  check "$name: $b's file untouched" test "$(cat "$secret")" = precious
  check "$name: its mode untouched" test "$(stat -c %a "$secret")" = 600
  rm -rf "$S" "$S.lock" "$S.tmp" "$S".bad*
  cp -p "$work/kept" "$S"
}
plant "link as the settings" "rm $S && ln -s $secret $S"
check "the foreign link was refused" grep -q "owned by user $(id -u "$a")" "$work/run.err"
plant "FIFO as the settings" "rm $S && mkfifo $S"
plant "FIFO as the lock" "rm -f $S.lock && mkfifo $S.lock"
check "the FIFO lock was refused" grep -q "not a regular file" "$work/run.err"
plant "link as the temporary file" "ln -s $secret $S.tmp"
check "saved past the planted temporary link" test -z "$(grep warning "$work/run.err")"
plant "link as the damaged copy" "ln -s $secret $S.bad && echo '{' >$S"
check "the damaged copy took the next name" grep -q "kept as \"$S.bad.1\"" "$work/run.err"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
