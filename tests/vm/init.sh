#!/bin/busybox sh
# PID 1 of the test VM (busybox). ttyS0 is the console and the report channel
# to the host: every line meant for the host starts with "@@". ttyS1..ttyS3
# are 16550 UARTs driven by Linux's 8250 driver, each wired to a simulated
# card on the host: jq, vn, klr. /cases holds one set run per line,
# "family|channel|rfcard options|expected read-back members as key=value".
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
exec </dev/console >/dev/console 2>&1
# QSerialPort takes a lock file in the first writable lock folder.
mkdir -p /tmp /var/lock /run/lock
export PATH=/bin:/opt/rfcard LC_ALL=C.UTF-8 HOME=/tmp

echo "@@ kernel $(uname -r), up $(cut -d' ' -f1 /proc/uptime) s"
for n in 1 2 3; do
    echo "@@ ttyS$n irq $(cat /sys/class/tty/ttyS$n/irq)" \
        "rx_trig_bytes $(cat /sys/class/tty/ttyS$n/rx_trig_bytes)"
done
# The driver splits a 10-byte reply, or this test proves nothing. Not every
# time here: QEMU's UART takes the tail in as soon as the FIFO is drained, not
# two character times later, and sometimes the driver is still reading.
echo "@@ probe jq $(probe /dev/ttyS1 200)"
echo "@@ probe vn $(probe /dev/ttyS2 200)"

# What rfcard prints when a query or a command went wrong.
fail='error|Query failed'
n=0
while IFS='|' read -r family ch options want; do
    n=$((n + 1))
    rfcard $options >/tmp/set.out 2>&1
    set_rc=$?
    rfcard --part 1 --gch "$ch" >/tmp/read.out 2>/tmp/read.err
    read_rc=$?
    set_err=$(grep -cE "$fail" /tmp/set.out)
    read_err=$(cat /tmp/read.out /tmp/read.err | grep -cE "$fail")
    # The report's members, one per line without indent or comma.
    sed 's/^ *//; s/,$//' /tmp/read.out >/tmp/read.kv
    bad=0
    for kv in $want; do
        grep -qxF "\"${kv%%=*}\": \"${kv#*=}\"" /tmp/read.kv || bad=$((bad + 1))
    done
    verdict="set_rc=$set_rc set_err=$set_err read_rc=$read_rc read_err=$read_err mismatch=$bad"
    [ "$verdict" = "set_rc=0 set_err=0 read_rc=0 read_err=0 mismatch=0" ] && verdict=ok
    echo "@@ case $n $family $verdict"
    if [ "$bad" != 0 ]; then
        echo "@@ want $n $want"
        echo "@@ got $n $(grep '^"' /tmp/read.kv | tr '\n' ' ')"
    fi
    cat /tmp/set.out /tmp/read.out /tmp/read.err | grep -E "$fail" | head -n 3 |
        sed "s/^/@@ error $n /"
done </cases
echo "@@ end $n"
poweroff -f
