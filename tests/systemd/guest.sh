#!/bin/bash
# Inside the machine tests/systemd/run.sh boots: Debian 12 with systemd as
# PID 1 and rfcard's package, cards "lab" (a VN2810 on ttyS1, TCP 5025 and
# read-only 5026), "usb" (a KLR620 on a USB serial adapter) and "slow" (a
# VN2810 on ttyS3 that answers late) enabled before the boot. Each check is
# a line "@@ ok|FAIL what" on the console; "@@ unplug"/"@@ plug" ask the
# host to pull the adapter out and put it back.
exec >/dev/ttyS0 2>&1
PATH=/usr/sbin:/usr/bin:/sbin:/bin
say() { echo "@@ $*"; }
check() { local what=$1; shift; if "$@" >/tmp/check.out 2>&1; then say "ok $what"; else say "FAIL $what: $(tail -c 300 /tmp/check.out | tr '\n' ' ')"; fi; }
fails() { ! "$@"; }
is() { [ "$1" = "$2" ] || { echo "got \"$1\", not \"$2\""; false; }; }
as() { local u=$1; shift; runuser -u "$u" -- "$@"; }
journal() { journalctl -q -o cat -u "rfcardd@$1.service"; }
wait_for() { for ((t = 0; t < 300; ++t)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done; return 1; }
usb=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_rfcardusb-if00-port0
visa() { # ADDRESS PORT MESSAGE: a query through pyvisa's own backend
  python3 -c 'import sys, pyvisa
c = pyvisa.ResourceManager("@py").open_resource(f"TCPIP::{sys.argv[1]}::{sys.argv[2]}::SOCKET",
    read_termination="\n", write_termination="\n", timeout=20000)
print(c.query(sys.argv[3]))' "$@"; }
say "booted in $(cut -d' ' -f1 /proc/uptime) s, $(systemctl is-system-running)"

# From boot, before anybody used the card: systemd holds every address.
check "the unix socket, root:dialout 0660" is "$(stat -c %U:%G:%a /run/rfcard/lab.sock)" root:dialout:660
check "TCP 5025 and 5026 held by systemd" is "$(ss -Hltnp 'sport = 5025 or sport = 5026' | grep -c 'pid=1,')" 2
check "the service not started yet" is "$(systemctl is-active rfcardd@lab.service)" inactive
check "pyvisa sets on 5025" is "$(visa 127.0.0.1 5025 'CHAN1:FREQ 1500;:SYST:ERR?')" '0,"No error"'
check "and reads on 5026" is "$(visa 127.0.0.1 5026 'CHAN1:FREQ?')" 1500.000
check "5026 refuses a set" grep -q '^-203,' <<<"$(visa 127.0.0.1 5026 'CHAN1:FREQ 1200;:SYST:ERR?')"

# The host's front: VXI-11 through rpcbind, to the default card and by name.
check "VXI-11 to the default card (lxi-tools)" grep -q "^RFCARD,VN2810,/dev/ttyS1," <<<"$(lxi scpi -a 127.0.0.1 -t 30 '*IDN?')"
check "VXI-11 to a card by name (pyvisa-py)" is "$(python3 -c 'import pyvisa
print(pyvisa.ResourceManager("@py").open_resource("TCPIP::127.0.0.1::usb::INSTR").query("*IDN?").split(",")[1])')" KLR620
check "the front runs as the service's user" is "$(ps -o user= -C rfcardd | sort -u | tr '\n' ' ')" "rfcardd "

# Members set and read back; a non-member is refused; the journal says who.
check "a member sets through the service" as alice rfcard-strict --service lab --ch 1 --freq 1600
check "and reads it back" grep -q '"freq": "1600.000"' <<<"$(as alice rfcard-strict --service lab --part 1 --gch 1)"
as bob rfcard-strict --service lab --part 1 >/dev/null 2>/tmp/bob.err; status=$?
check "a non-member: 4, and why" grep -q "lets its owner root and the group dialout" /tmp/bob.err
check "(status $status)" test $status = 4
check "the journal's line names the member" grep -qx \
  "rfcardd: uid $(id -u alice) (alice) on /run/rfcard/lab.sock: VN2810 CHANnel2:FREQuency 1600: verified" <<<"$(journal lab)"
check "and the set before it went out" grep -q "(alice) on /run/rfcard/lab.sock: VN2810 CHANnel2:FREQuency 1600: sent to the card" <<<"$(journal lab)"

# The port is the service's alone: nobody goes around it.
check "the device is the service user's, 0600" is "$(stat -Lc %U:%a /dev/ttyS1)" rfcardd:600
check "a member cannot open it" fails as alice sh -c 'exec 3<>/dev/ttyS1'
check "nor change its settings (stty icanon)" fails as alice stty -F /dev/ttyS1 icanon
as alice rfcard-strict --card vn2810 --com /dev/ttyS1 --ch 0 --freq 1500 >/dev/null 2>/tmp/alice.err; status=$?
check "a member's run on it: the service to use" grep -q "give --service lab" /tmp/alice.err
check "(status $status)" test $status = 4
systemctl restart rfcardd@lab.service
check "after a restart still closed" fails as alice sh -c 'exec 3<>/dev/ttyS1'
check "the USB card through its service" as alice rfcard-strict --service usb --ch 0 --freq 4200 --band 3
check "its adapter closed to members" fails as alice sh -c "exec 3<>$usb"
say unplug
check "the adapter is gone" wait_for test ! -e "$usb"
say plug
check "and back" wait_for test -e "$usb"
check "closed to members after the replug" fails as alice sh -c "exec 3<>$usb"
check "the same service takes it up" as alice rfcard-strict --service usb --ch 0 --freq 4300 --band 3

# A lock file anybody planted does not keep the service from its port.
systemctl stop rfcardd@lab.socket rfcardd@lab.service
check "a stopped socket gives the port back" is "$(stat -Lc %U:%G:%a /dev/ttyS1)" root:dialout:660
as bob sh -c 'printf "%10d\n" 999999 >/run/lock/LCK..ttyS1'
systemctl start rfcardd@lab.socket
check "a planted lock keeps nothing from the service" as alice rfcard-strict --service lab --ch 1 --freq 1700
rm -f /run/lock/LCK..ttyS1

# The audit: bounded lines, a set on record before it is made.
python3 -c 'import socket; s = socket.socket(socket.AF_UNIX); s.connect("/run/rfcard/lab.sock")
s.sendall(b"CHAN2:FREQ " + b"0" * 48000 + b"1800;*OPC?\n"); s.makefile().readline()'
check "a padded set makes one bounded line" is "$(journal lab | grep -c 'FREQuency 0000.*\.\.\.: verified')" 1
check "no line over 600 characters" test "$(journal lab | awk '{ if (length > n) n = length } END { print n + 0 }')" -lt 600
python3 -c 'import socket; s = socket.socket(socket.AF_UNIX); s.connect("/run/rfcard/slow.sock")
s.sendall(b"CHAN1:FREQ 1900\n"); import time; time.sleep(600)' &
check "a slow set is on record before it is made" wait_for sh -c \
  'journalctl -q -o cat -u rfcardd@slow.service | grep -q "FREQuency 1900: sent to the card"'
systemctl kill -s KILL rfcardd@slow.service
check "killed in the middle, the line names it" sh -c \
  'journalctl -q -o cat -u rfcardd@slow.service | grep "FREQuency 1900" | grep -vq verified'
kill %1 2>/dev/null

# A typo in a card's configuration: said once, told to every client.
printf 'CARD=VN2801\nCOM=/dev/ttyS2\n' >/etc/rfcard/rfcardd/typo.conf
systemctl start rfcardd@typo.socket
for i in 1 2 3; do as alice rfcard-strict --service typo --ch 1 --freq 1500 >/dev/null 2>/tmp/typo.err; status=$?; done
check "a client is told to look at the journal" grep -q "the service typo could not start: see journalctl -u rfcardd@typo" /tmp/typo.err
check "(status $status)" test $status = 4
check "one journal line names the key and the models" is "$(journal typo | grep -c 'CARD=VN2801 is not a model rfcardd drives: VN2810, JQ5140, KLR620 or JQ5120')" 1
check "the socket stays up" is "$(systemctl is-active rfcardd@typo.socket)" active
sed -i 's/VN2801/VN2810/' /etc/rfcard/rfcardd/typo.conf
systemctl restart rfcardd@typo.socket
check "fixed, and the socket restarted: it serves" as alice rfcard-strict --service typo --ch 1 --freq 1500

# An upgrade keeps the sockets: a client that reconnects finds the card.
since=$(systemctl show -P ActiveEnterTimestampMonotonic rfcardd@lab.socket)
python3 -c 'import socket, time; s = socket.socket(socket.AF_UNIX); s.connect("/run/rfcard/lab.sock")
s.sendall(b"*IDN?\n"); s.recv(100); time.sleep(600)' &
dpkg -i /root/rfcard.deb >/tmp/upgrade.log 2>&1
check "upgraded" test $? = 0
check "the socket was not restarted" is "$(systemctl show -P ActiveEnterTimestampMonotonic rfcardd@lab.socket)" "$since"
check "a client that reconnects is answered" as alice rfcard-strict --service lab --ch 1 --freq 2000
check "TCP too" is "$(visa 127.0.0.1 5026 'CHAN2:FREQ?')" 2000.000

# Purge leaves nothing.
dpkg --purge rfcard >/tmp/purge.log 2>&1
check "purged" test $? = 0
check "no unit left" test -z "$(systemctl list-units --all --no-legend 'rfcardd*' 'rfcard-front*')"
check "no link left" test -z "$(ls /etc/systemd/system/*.wants/rfcardd* 2>/dev/null)"
check "no folder left" test -z "$(ls -d /run/rfcard /run/rfcardd /etc/rfcard /opt/rfcard 2>/dev/null)"
check "no user left" fails getent passwd rfcardd
check "no process left" fails pgrep -x rfcardd
check "the ports are root's and dialout's again" is "$(stat -Lc %U:%G:%a /dev/ttyS1 $usb | sort -u)" root:dialout:660
say end
