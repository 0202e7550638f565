#!/usr/bin/env bash
# rfcard.exe, rfcard-strict.exe and rfcardd.exe under Wine 10, against the
# Linux build, on simulated cards mapped as COM5 (docs/windows.md says what
# this shows).
#   tests/wine.sh [LINUX_BUILD] [WINDOWS_BUILD]   (default build-test build-win; root)
# RFCARD_WINE_MODEMSTATUS=0 leaves tests/wine/modemstatus.c out.
set -uo pipefail
cd "$(dirname "$0")/.."
# Wine offers every /dev/ttyS*, ttyUSB* and ttyACM* as a COM port: in a mount
# namespace of its own, each of them is /dev/null.
if [ -z "${RFCARD_WINE_NAMESPACE:-}" ]; then
  exec env RFCARD_WINE_NAMESPACE=1 unshare --mount --propagation private bash "$0" "$@"
fi
for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  [ -e "$dev" ] && { mount --bind /dev/null "$dev" || exit 2; }
done
. tests/lib.sh
harness wine
need_root
lin=$(realpath "${1:-build-test}") winb=$(realpath "${2:-build-win}")
bash scripts/deps.sh g++-mingw-w64-x86-64-posix gcc libc6-dev bsdutils jq python3-pyvisa-py >/dev/null
root=$(bash scripts/wine10root.sh) || exit 2
mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" && mount -t tmpfs tmpfs "$root/tmp" \
  && mkdir -p "$root$work" && mount --bind "$work" "$root$work" || exit 2

# The library only for Wine 10 and later (Wine 8 hangs in the open with it).
for tool in holdlock codepage; do
  x86_64-w64-mingw32-gcc-posix -municode -O2 -o "$work/$tool.exe" "tests/wine/$tool.c" || exit 2
done
preload=""
version=$(chroot "$root" /usr/lib/wine/wine64 --version | sed -n 's/^wine-\([0-9]*\).*/\1/p')
if [ "${version:-0}" -ge 10 ] && [ "${RFCARD_WINE_MODEMSTATUS:-1}" != 0 ]; then
  gcc -shared -fPIC -O2 -o "$work/modemstatus.so" tests/wine/modemstatus.c -ldl || exit 2
  preload=$work/modemstatus.so
fi

W=$work/win L=$work/lin
mkdir "$W" "$L"
cp "$winb/rfcard.exe" "$winb/rfcard-strict.exe" "$winb/rfcardd.exe" "$work"/*.exe "$W/"
cp "$lin/rfcard" "$lin/rfcard-strict" "$L/"
# inwine COMMAND: in the root, in $W, on a console of its own (script).
inwine() {
  chroot "$root" env -i HOME="$work" PATH=/usr/bin:/bin WINEPREFIX="$work/prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" XDG_RUNTIME_DIR=/tmp ${preload:+LD_PRELOAD=$preload} \
    RFCARD_STRICT_VERIFY="${VERIFY:-1}" script -qec "cd $W && $1" /dev/null </dev/null >/dev/null
}
inwine "/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1"
on_exit chroot "$root" env WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k
# COM1 to COM9 lead nowhere but COM5, to the simulated card of the moment.
{ printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
  for n in 1 2 3 4 6 7 8 9; do printf '"COM%s"="/nonexistent/rfcard-wine-com%s"\n' $n $n; done
  printf '"COM5"="%s"\n' "$work/com5"; } >"$work/ports.reg"
inwine "/usr/lib/wine/wine64 regedit /S $work/ports.reg; /usr/lib/wine/wineserver -k"

# w PROGRAM ARGS...: a Windows program; $work/out, err (CRs off), $rc.
w() {
  local exe=$1; shift
  inwine "/usr/lib/wine/wine64 $exe.exe $* >$work/out.crlf 2>$work/err.crlf; echo \$? >$work/rc"
  rc=$(cat "$work/rc")
  tr -d '\r' <"$work/out.crlf" >"$work/out"
  tr -d '\r' <"$work/err.crlf" >"$work/err"
}
# l PROGRAM ARGS...: the Linux build's: $work/lout, lerr, $lrc.
l() {
  local exe=$1; shift
  (cd "$L" && RFCARD_STRICT_VERIFY=${VERIFY:-1} "./$exe" "$@" </dev/null >"$work/lout" 2>"$work/lerr")
  lrc=$?
}
# card SIDE RUNS: runs ("PROGRAM ARGS;...") of one side (w or l) on one new
# card ($SIM); $work/frames: what it received; the last run's output.
card() {
  local side=$1 runs=$2 sim_args=${SIM:---family vn} port run
  # shellcheck disable=SC2086 # the options are words
  sim port "$lin" $sim_args --trace
  ln -sfn "$port" "$work/com5"
  IFS=';' read -ra runs <<<"$runs"
  for run in "${runs[@]}"; do
    # shellcheck disable=SC2086
    set -- $run
    "$side" "$1" --com "$([ "$side" = w ] && echo com5 || echo "$port")" "${@:2}"
    [ "$side" = l ] || cat "$work/err" >>"$work/werr"
  done
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
  rm -f "$work/com5"
  sed -n 's/^[^ ]* rx \([0-9a-f ]*[0-9a-f]\)  |.*/\1/p' "$work/sim-port.err" >"$work/frames"
}
same() { cmp -s "$1" "$2"; }
stored() { jq -r "$1" "$W/rfcard.json"; }

echo "== the programs start, say what rfcard says, and leave the console's code page alone"
w rfcard --version; l rfcard --version
check "--version as on Linux" same "$work/out" "$work/lout"
check "the lines end in CR LF" grep -q $'\r$' "$work/out.crlf"
w rfcard --help
check "the Chinese help is readable (UTF-8)" grep -q "变频卡型号 支持 VN2810," "$work/out"
check "--help lists the options as on Linux" test "$(grep -c '^  --' "$work/out")" -eq 15
inwine "/usr/lib/wine/wine64 cmd /c \"codepage.exe & rfcard.exe --version & codepage.exe \
  & rfcard.exe --chan 1 & codepage.exe & rfcard.exe --help & codepage.exe & rfcard-strict.exe \
  --help & codepage.exe & rfcard-strict.exe --card none --com com9 --part 2 & codepage.exe\" \
  >$work/cp 2>/dev/null"
pages=$(tr -d '\r' <"$work/cp" | grep -xE '[0-9]+' | sort -u)
check "the code page is the console's own after each ($(echo $pages))" \
  test "$(wc -l <<<"$pages")" = 1 -a "$pages" != 65001

echo "== settings beside rfcard.exe, saved as on Linux"
w rfcard --part 2 --card nothing --com com8; l rfcard --part 2 --card nothing --com com8
check "the saved settings as on Linux, port names upper-cased" same "$W/rfcard.json" "$L/rfcard.json"

echo "== runs at once, a held lock, a damaged and a read-only file"
for ch in 0 1 2 3; do
  inwine "/usr/lib/wine/wine64 rfcard.exe --card none --com com9 --ch $ch --upgain at-once$ch \
    >/dev/null 2>$work/once$ch" &
done
wait
for ch in 0 1 2 3; do
  check "four at once: channel $ch kept" \
    test "$(stored ".\"RFCardParser ch$((ch + 1))\".upgain")" = "at-once$ch"
done
cp "$W/rfcard.json" "$work/before"
inwine "/usr/lib/wine/wine64 holdlock.exe rfcard.json.lock Z:$work/release >$work/hold" &
holder=$!
for ((t = 0; t < 600; ++t)); do grep -q held "$work/hold" 2>/dev/null && break; sleep 0.1; done
check "another process holds the lock" grep -q held "$work/hold"
w rfcard --card none --com com9 --ch 3 --upgain held
touch "$work/release"
check "held lock: waited 10 s, then said so" grep -q "was held by another process for 10 s" "$work/err"
check "held lock: named what was not saved" grep -q 'upgain="held"' "$work/err"
check "held lock: file unchanged" same "$W/rfcard.json" "$work/before"
wait "$holder"
printf '{"damaged' >"$W/rfcard.json"
w rfcard --card none --com com9 --ch 3 --upgain after-damage
check "damaged file: kept as rfcard.json.bad" grep -q 'kept as ".*rfcard.json.bad"' "$work/err"
check "damaged file: the copy holds it" test "$(cat "$W/rfcard.json.bad")" = '{"damaged'
check "damaged file: replaced" test "$(stored '."RFCardParser ch4".upgain')" = after-damage
chmod 444 "$W/rfcard.json"
cp "$W/rfcard.json" "$work/before"
w rfcard --card none --com com9 --ch 3 --upgain read-only
check "read-only file: refused" grep -q "cannot be written: it is read-only" "$work/err"
check "read-only file: unchanged" same "$W/rfcard.json" "$work/before"
chmod 644 "$W/rfcard.json"

echo "== a missing port"
w rfcard --card vn2810 --com com200
check "missing port: named" grep -q 'open uart "COM200" failed' "$work/err"
w rfcard-strict --card vn2810 --com com200
check "rfcard-strict: status 4 for a missing port" test "$rc" = 4
check "rfcard-strict: and why" grep -q "COM200 does not exist" "$work/err"
check "rfcard-strict: no CR CR LF" test "$(grep -c $'\r\r' "$work/err.crlf")" = 0

echo "== every model: set, read back, verify, and faults, as on Linux"
# side_by_side RUNS: the same runs on both sides from the same settings;
# $work/werr gathers the Windows runs' standard error.
side_by_side() {
  cp "$L/rfcard.json" "$W/rfcard.json"
  : >"$work/werr"
  card w "$1"; mv "$work/frames" "$work/wframes"; cp "$work/out" "$work/wout"; wrc=$rc
  card l "$1"
}
settings() { jq -S 'del(.system["端口号"])' "$1"; } # the port's name differs
while IFS='|' read -r family set read; do
  SIM="--family $family"
  side_by_side "rfcard $set;rfcard --part 1 $read"
  check "$family $set: frames as on Linux ($(wc -l <"$work/frames"))" \
    test -s "$work/frames" -a "$(cat "$work/wframes")" = "$(cat "$work/frames")"
  check "$family $set: the read-back as on Linux" same "$work/wout" "$work/lout"
  check "$family $set: the settings as on Linux" \
    test "$(settings "$W/rfcard.json")" = "$(settings "$L/rfcard.json")"
  check "$family $set: every reply received" fails grep -qE "recv len == 0|Ret error" "$work/werr"
  code=$([ "$family" = klr ] && echo 0xa7 || echo 2)
  while read -r fault want; do
    SIM="--family $family" && [ "$fault" = none ] || SIM+=" --fault $fault"
    case $fault in
    none | keep-old*) side_by_side "rfcard-strict $set" ;;
    *) side_by_side "rfcard-strict --part 1 $read" ;;
    esac
    check "$family rfcard-strict, $fault: status $wrc ($want), on Linux $lrc" \
      test "$wrc" = "$want" -a "$lrc" = "$want"
  done <<FAULTS
none 0
keep-old:$([ "$family" = klr ] && echo 0xa2 || echo 2) 8
no-reply:$code 3
short:$code 3
wrong-code:$code 3
FAULTS
done <<'MODELS'
jq|--card jq5140 --ch 2 --freq 1500 --gain 20.5 --workmode 0 --ref 1 --outfreq 140|--gch 2
jq|--card jq5120 --ch 1 --freq 1200 --gain 30 --ref 0 --band 1|--gch 1
vn|--card vn2810 --ch 0 --freq 2400 --gain 12.5 --outfreq 21.4|--gch 0
klr|--card klr620 --ch 3 --freq 4200 --gain 20 --workmode 1 --band 3|--gch 3
MODELS

echo "== rfcard-strict.exe's refusals, as on Linux"
SIM="--family klr"
while read -r want args; do
  VERIFY=0 side_by_side "rfcard-strict $args"
  check "$args: status $wrc ($want), on Linux $lrc" test "$wrc" = "$want" -a "$lrc" = "$want"
done <<'ROWS'
2 --card klr620 --band 1
2 --card klr620 --gain 1O
1 --card klr620 --ch 1 band 3
2 --card jq5120 --ch 3
ROWS

echo "== rfcardd.exe: the card as an instrument, driven by pyvisa from Linux"
sim port "$lin" --family vn --trace
ln -sfn "$port" "$work/com5"
inwine "/usr/lib/wine/wine64 rfcardd.exe --card vn2810 --com com5 --listen 127.0.0.1:0 \
  --hislip 127.0.0.1:0 >$work/d.out 2>$work/d.err" &
daemon=$!
for ((t = 0; t < 600; ++t)); do grep -q "listening hislip" "$work/d.out" 2>/dev/null && break; sleep 0.1; done
tcp=$(tr -d '\r' <"$work/d.out" | sed -n 's/^listening tcp 127.0.0.1://p')
hislip=$(tr -d '\r' <"$work/d.out" | sed -n 's/^listening hislip 127.0.0.1://p')
/usr/bin/python3 - "$tcp" >"$work/visa" 2>&1 <<'PY'
import sys, pyvisa
card = pyvisa.ResourceManager("@py").open_resource(f"TCPIP::127.0.0.1::{sys.argv[1]}::SOCKET",
    read_termination="\n", write_termination="\n", timeout=20000)
print(card.query("*IDN?"))
card.write("CHANnel2:FREQuency 1500")
print(card.query("SYSTem:ERRor?"))
print(card.query("CHANnel2:FREQuency?"))
PY
check "rfcardd.exe listens (port ${tcp:-none})" test -n "$tcp"
check "*IDN? through pyvisa" grep -q "^RFCARD,VN2810,COM5," "$work/visa"
check "a set, read back before it is done" grep -qx '0,"No error"' "$work/visa"
check "and the card holds it" grep -q "set freq ch1 = 1500000" "$work/sim-port.err"
check "the query answers it" grep -qx "1500.000" "$work/visa"
# Winsock's way of a client that ends its sending, then HiSLIP (pyvisa 1.16).
check "a client that ends its sending is answered" \
  test "$(printf 'CHAN2:FREQ?\n' | timeout 30 nc -N 127.0.0.1 "$tcp")" = 1500.000
third=$(realpath -m ../shared/third_party)
if [ -f "$third/pyvisa-1.16.2.tar.xz" ] && [ -f "$third/pyvisa-py-0.8.1.tar.xz" ]; then
  for a in pyvisa-1.16.2 pyvisa-py-0.8.1; do tar -xf "$third/$a.tar.xz" -C "$work"; done
  PYTHONPATH=$work/pyvisa-1.16.2:$work/pyvisa-py-0.8.1 /usr/bin/python3 - "$hislip" >"$work/hislip" 2>&1 <<'PY'
import sys, pyvisa
card = pyvisa.ResourceManager("@py").open_resource(f"TCPIP::127.0.0.1::hislip0,{sys.argv[1]}::INSTR",
    timeout=20000)
card.write("CHANnel2:FREQuency 1600")
print(card.query("CHANnel2:FREQuency?;:SYSTem:ERRor?").strip(), card.read_stb())
card.clear()
print(card.query("*IDN?").strip())
PY
  check "HiSLIP: a set read back, the status byte" grep -qx '1600.000;0,"No error" 0' "$work/hislip"
  check "HiSLIP: a device clear, then *IDN?" grep -q "^RFCARD,VN2810,COM5," "$work/hislip"
else
  echo "no pyvisa 1.16 with pyvisa-py 0.8 beside the clone: the HiSLIP check skips"
fi
chroot "$root" env WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k
wait "$daemon" 2>/dev/null
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null

summary
