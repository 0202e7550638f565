#!/usr/bin/env bash
# Tries to make the real rfcard lose settings (docs/reliability.md): after
# every step the file must hold, for every key, a value a finished run gave.
# Last, as root, rfcard-strict's stored port raced by another user's link.
#   tests/torture.sh [BUILD_DIR]     (as root: a tmpfs, another user)
set -uo pipefail
cd "$(dirname "$0")/.."
. tests/lib.sh
harness torture
build=$(realpath "${1:-build}")
[ -x "$build/rfcard" ] || { echo "no $build/rfcard"; exit 2; }
command -v strace >/dev/null && command -v jq >/dev/null && command -v flock >/dev/null \
  || bash scripts/deps.sh strace jq util-linux >/dev/null

mnt=""
holder=""
on_exit '[ -n "$holder" ] && kill "$holder"'
on_exit '[ -n "$mnt" ] && umount "$mnt"'
start=$(date +%s)
runs=0 kills=0 faults=0 lost=0 hangs=0 gaveup=0

ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }

T=$work/tool                    # the tool folder most steps use
inside "$T"
mkdir "$T" && cp "$build/rfcard" "$T/" && chmod 755 "$T"
S=$T/rfcard.json
NOPORT=/nonexistent/rfcard-torture
keys=(gain upgain ref workmode band gainmode)

# rf OUT ARGS...: one run with a bound; its standard error lands in OUT.
rf() {
  local out=$1; shift
  runs=$((runs + 1))
  timeout 30 "$T/rfcard" --card none "$@" >/dev/null 2>"$out"
  local rc=$?
  [ $rc -eq 124 ] && hangs=$((hangs + 1))
  return $rc
}
saved() { ! grep -q "cannot save settings" "$1"; }
quiet() { ! grep -q warning "$1"; }

# "chN key" -> the values a finished run gave, joined by |.
declare -A want
verify() {
  local step=$1 k v got
  if ! jq -e 'type == "object"' "$S" >/dev/null 2>&1; then
    bad "$step: rfcard.json is not a valid settings file"; lost=$((lost + 1)); return
  fi
  for k in "${!want[@]}"; do
    v=${want[$k]}
    if [ "$k" = com ]; then
      got=$(jq -r '.system["端口号"] // "-"' "$S")
    else
      got=$(jq -r --arg m "RFCardParser ch$((${k%% *} + 1))" --arg k "${k#* }" \
        '.[$m][$k] // "-"' "$S")
    fi
    case "|$v|" in *"|$got|"*) ;; *) lost=$((lost + 1)); bad "$step: $k is '$got', saved '$v'";; esac
  done
  ok
}
# The file is exactly what it was, and no temporary file is left behind.
unchanged() {
  check "$1: file unchanged" cmp -s "$2" "$3"
  check "$1: no temporary file" test ! -e "$3.tmp"
}

echo "== crowds: 50 runs at once, 24 on distinct keys, 26 on one key (3 rounds)"
max_ms=0
for round in 1 2 3; do
  pids=()
  for i in $(seq 0 49); do
    if [ "$i" -lt 24 ]; then
      ch=$((i / 6)) key=${keys[i % 6]} v=$round$i
      args=(--com "$NOPORT" --ch $ch --$key $v)
    else
      args=(--com "$NOPORT$round-$i")
    fi
    ( s=$(date +%s%N); rf "$work/c$i.err" "${args[@]}"; rc=$?
      echo "$rc $(( ($(date +%s%N) - s) / 1000000 ))" >"$work/c$i.rc" ) &
    pids+=($!)
  done
  wait "${pids[@]}"
  runs=$((runs + 50))
  # Every run gives a port (the 24 on distinct keys the common one).
  coms=""
  for i in $(seq 0 49); do
    read -r rc ms <"$work/c$i.rc"
    [ "$ms" -gt "$max_ms" ] && max_ms=$ms
    # A run that waited 10 s for the lock rightly gives up its save.
    if [ "$rc" -eq 0 ] && grep -q "was held by" "$work/c$i.err"; then
      gaveup=$((gaveup + 1)); continue
    fi
    if [ "$rc" -ne 0 ] || ! saved "$work/c$i.err"; then bad "crowd run $i: status $rc"; continue; fi
    if [ "$i" -lt 24 ]; then
      want["$((i / 6)) ${keys[i % 6]}"]=$round$i
      case "|$coms|" in *"|$NOPORT|"*) ;; *) coms+="${coms:+|}$NOPORT" ;; esac
    else coms+="${coms:+|}$NOPORT$round-$i"; fi
  done
  want[com]=$coms
  verify "crowd round $round"
done
unset 'want[com]' # every later run gives the same port
echo "   slowest run of the crowds: $max_ms ms; saves given up after the lock wait: $gaveup"

echo "== random SIGKILL (8 rounds of 24 runs, killed after 0-60 ms)"
exec 3>&2 2>/dev/null # bash's own "Killed" notices
for round in $(seq 1 8); do
  pids=()
  for i in $(seq 0 23); do
    ch=$((i / 6)) key=${keys[i % 6]}
    "$T/rfcard" --card none --com "$NOPORT" --ch $ch --$key "k$round$i" \
      >/dev/null 2>"$work/k$i.err" &
    pids+=($!)
    ( sleep "$(printf '0.%03d' $((RANDOM % 60)))"; kill -9 "${pids[-1]}" 2>/dev/null ) &
  done
  runs=$((runs + 24))
  for i in $(seq 0 23); do
    { wait "${pids[i]}"; } 2>/dev/null; rc=$?
    k="$((i / 6)) ${keys[i % 6]}"
    if [ $rc -eq 0 ] && saved "$work/k$i.err"; then want[$k]=k$round$i
    else kills=$((kills + 1)); want[$k]="${want[$k]:-0}|k$round$i"; fi
  done
  wait
  verify "kill round $round"
  # Which of the two a killed run left is known now.
  for i in $(seq 0 23); do
    want["$((i / 6)) ${keys[i % 6]}"]=$(jq -r --arg m "RFCardParser ch$((i / 6 + 1))" \
      --arg k "${keys[i % 6]}" '.[$m][$k]' "$S")
  done
done
# A killed run delays nobody: the next run saves at once.
rf "$work/after.err" --com "$NOPORT" --gain after; want["0 gain"]=after
check "run after the kills saves" saved "$work/after.err"
check "no temporary file after the kills" test ! -e "$S.tmp"
verify "after the kills"

echo "== kills pinned at the dangerous points of a save"
pinned() { # NAME STRACE-ARGS...: the run dies there; the file stays as it was
  local name=$1; shift
  cp -p "$S" "$work/before"
  runs=$((runs + 1)) kills=$((kills + 1))
  ( timeout 30 strace -f -o /dev/null "$@" "$T/rfcard" --card none --com "$NOPORT" \
    --upgain "$name" >/dev/null 2>&1 ) 2>/dev/null
  check "$name: the run was killed there" test $? -eq 137
  check "$name: file unchanged" cmp -s "$work/before" "$S"
  verify "$name"
  rf "$work/p.err" --com "$NOPORT" --upgain "after-$name"
  check "$name: the next run saves" saved "$work/p.err"
  check "$name: its temporary file is gone" test ! -e "$S.tmp"
  want["0 upgain"]="after-$name"
  verify "after $name"
}
pinned "after the lock" -P "$S" -e inject=openat:signal=KILL:when=2
pinned "during the write" -P "$S.tmp" -e inject=write:signal=KILL
pinned "before the sync" -P "$S.tmp" -e inject=fsync:signal=KILL
pinned "before the rename" -e inject=rename,renameat,renameat2:signal=KILL

exec 2>&3 3>&-
echo "== locks: leftover files, and one held by a live process"
for content in "" "garbage $RANDOM" "$$"; do
  printf '%s' "$content" >"$S.lock"
  rf "$work/l.err" --com "$NOPORT" --ref "lock$content"
  check "leftover lock '$content': saved without a word" quiet "$work/l.err"
  want["0 ref"]="lock$content"
done
verify "leftover locks"
# The holder says when it has the lock; the run starts only then.
flock -x "$S.lock" sh -c ": >'$work/held'; exec sleep 20" &
holder=$!
until [ -e "$work/held" ] || ! kill -0 "$holder" 2>/dev/null; do sleep 0.02; done
cp -p "$S" "$work/before"
rf "$work/h.err" --com "$NOPORT" --ref held; faults=$((faults + 1))
check "held lock: skipped and named the holder and the values" \
  grep -q "was held by process $holder for 10 s" "$work/h.err"
check "held lock: names what was not saved" grep -q 'ref="held"' "$work/h.err"
unchanged "held lock" "$work/before" "$S"
kill "$holder"; wait "$holder" 2>/dev/null; holder=""
verify "held lock"

if [ "$(id -u)" -ne 0 ]; then
  echo "== not root: full disk, read-only mounts and the other user skipped"
else
  echo "== full disk (a 256 KiB tmpfs), then a read-only one"
  mnt=$work/small; inside "$mnt"; mkdir "$mnt"; mount -t tmpfs -o size=256k tmpfs "$mnt"
  cp -p "$S" "$mnt/rfcard.json"; rm "$S"; ln -s "$mnt/rfcard.json" "$S"
  dd if=/dev/zero of="$mnt/fill" bs=4k 2>/dev/null
  for n in 1 2 3; do
    cp -p "$mnt/rfcard.json" "$work/before"
    rf "$work/f.err" --com "$NOPORT" --gain "full$n"; faults=$((faults + 1))
    check "full disk: warned with the cause" grep -q "No space left on device" "$work/f.err"
    check "full disk: names what was not saved" grep -q "gain=\"full$n\"" "$work/f.err"
    unchanged "full disk $n" "$work/before" "$mnt/rfcard.json"
  done
  verify "full disk"
  rm "$mnt/fill"
  rf "$work/f.err" --com "$NOPORT" --gain roomy; want["0 gain"]=roomy
  check "space again: saved" saved "$work/f.err"
  verify "after the full disk"
  mount -o remount,ro "$mnt"
  cp -p "$mnt/rfcard.json" "$work/before"
  rf "$work/r.err" --com "$NOPORT" --gain rofs; faults=$((faults + 1))
  check "read-only file system: the cause" grep -q "Read-only file system" "$work/r.err"
  unchanged "read-only file system" "$work/before" "$mnt/rfcard.json"
  umount "$mnt"; mnt=""
  rm "$S"; cp -p "$work/before" "$S"

  echo "== read-only folder and file, as another user"
  as_nobody() { runs=$((runs + 1)); timeout 30 setpriv --reuid=65534 --regid=65534 \
    --clear-groups "$T/rfcard" --card none --com "$NOPORT" "$@" >/dev/null 2>"$work/n.err"; }
  chmod 644 "$S"; rm -f "$S.lock"
  as_nobody --gain nobody; faults=$((faults + 1))
  check "read-only folder: the cause first" grep -q "the folder is not writable" "$work/n.err"
  unchanged "read-only folder" "$work/before" "$S"
  touch "$S.lock"; chmod 777 "$T"
  as_nobody --gain nobody; faults=$((faults + 1))
  check "read-only file: the cause" grep -q "cannot be written: Permission denied" "$work/n.err"
  unchanged "read-only file" "$work/before" "$S"
  chmod 000 "$S.lock"
  as_nobody --gain nobody; faults=$((faults + 1))
  check "unreadable lock file: named with its owner and mode" \
    grep -q "the lock file belongs to root (user 0) and has mode 000" "$work/n.err"
  chmod 755 "$T"
  verify "read-only"
fi

if [ "$(id -u)" -eq 0 ]; then
  echo "== a stored port whose link flips between root's pty and another user's, 1000 runs"
  # Both ends play a card, so a run that wrote to theirs would end 0: every
  # run ends 0 (root's) or 4 (refused), and theirs never receives a byte.
  F=$work/flip; inside "$F"; mkdir "$F" && cp "$build/rfcard" "$build/rfcard-strict" "$F/"
  sim mine "$build" --family vn
  sim theirs "$build" --family vn --trace
  chown 65534:65534 "$theirs"
  ln -s "$mine" "$F/port" && "$F/rfcard" --com "$F/port" --part 2 2>/dev/null
  /usr/bin/python3 -c 'import os, sys
to, link = sys.argv[1:3], sys.argv[3]
i = 0
while True:
    os.symlink(to[i % 2], link + ".next")
    os.replace(link + ".next", link)
    i += 1' "$theirs" "$mine" "$F/port" &
  flipper=$!
  on_exit "kill $flipper"
  declare -A ended=()
  wrote=0
  for ((i = 0; i < 1000; ++i)); do
    before=$(grep -c ' rx ' "$work/sim-theirs.err")
    timeout 30 "$F/rfcard-strict" --card vn2810 --freq 1500 >/dev/null 2>&1
    rc=$?
    ended[$rc]=$(( ${ended[$rc]:-0} + 1 ))
    [ "$(grep -c ' rx ' "$work/sim-theirs.err")" -gt "$before" ] && wrote=$((wrote + 1))
  done
  kill "$flipper"
  runs=$((runs + 1000))
  echo "   ended 0: ${ended[0]:-0}, ended 4: ${ended[4]:-0}, runs that wrote to theirs: $wrote"
  check "every run ended 0 or 4" test $(( ${ended[0]:-0} + ${ended[4]:-0} )) -eq 1000
  check "no run wrote to the other user's pty" test "$wrote" -eq 0
  check "both ends were met" test "${ended[0]:-0}" -gt 0 -a "${ended[4]:-0}" -gt 0
fi

elapsed=$(( $(date +%s) - start ))
echo
echo "runs $runs, kills $kills, faults $faults, values lost $lost, hangs $hangs, ${elapsed} s"
summary && [ "$lost" -eq 0 ] && [ "$hangs" -eq 0 ]
