#!/bin/busybox sh
# PID 1 of the test VM (busybox); lines for the host start with "@@" on the
# console. /cases: one set run per line, "family|channel|options|expected
# key=value..." on ttyS1..3 (jq, vn, klr); /usb-runs of them again on the
# adapters.
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
# The driver splits a 10-byte reply, or this test proves nothing (not every
# time: QEMU's UART takes the tail in as soon as the FIFO is drained).
echo "@@ probe jq $(probe /dev/ttyS1 200)"
echo "@@ probe vn $(probe /dev/ttyS2 200)"

# The USB adapters, found by the serial numbers the host gave them.
for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
    insmod /lib/modules/$m.ko || echo "@@ error insmod $m"
done
n=0
while [ "$(ls /sys/bus/usb-serial/devices 2>/dev/null | wc -l)" -lt 4 ] && [ $n -lt 600 ]; do
    sleep 0.1
    n=$((n + 1))
done
for t in /sys/bus/usb-serial/devices/*; do
    eval "usb_$(cat "$(readlink -f "$t")/../../serial")=/dev/${t##*/}"
done
echo "@@ usb jq=$usb_jq vn=$usb_vn klr=$usb_klr idle=$usb_idle"

fail='error|Query failed'
# cases LABEL SED: the set runs, ports changed by SED, each read back.
cases() {
    n=0
    sed "$2" /cases | while IFS='|' read -r family ch options want; do
        n=$((n + 1))
        rfcard $options >/tmp/set.out 2>&1
        set_rc=$?
        rfcard --part 1 --gch "$ch" >/tmp/read.out 2>/tmp/read.err
        read_rc=$?
        set_err=$(grep -cE "$fail" /tmp/set.out)
        read_err=$(cat /tmp/read.out /tmp/read.err | grep -cE "$fail")
        sed 's/^ *//; s/,$//' /tmp/read.out >/tmp/read.kv
        bad=0
        for kv in $want; do
            grep -qxF "\"${kv%%=*}\": \"${kv#*=}\"" /tmp/read.kv || bad=$((bad + 1))
        done
        verdict="set_rc=$set_rc set_err=$set_err read_rc=$read_rc read_err=$read_err mismatch=$bad"
        [ "$verdict" = "set_rc=0 set_err=0 read_rc=0 read_err=0 mismatch=0" ] && verdict=ok
        echo "@@ $1 $n $family $verdict"
        if [ "$bad" != 0 ]; then
            echo "@@ want $n $want"
            echo "@@ got $n $(grep '^"' /tmp/read.kv | tr '\n' ' ')"
        fi
        cat /tmp/set.out /tmp/read.out /tmp/read.err | grep -E "$fail" | head -n 3 |
            sed "s/^/@@ error $n /"
    done
}
cases case ''
head -n "$(($(cat /usb-runs) * 3))" /cases >/tmp/usb-cases
mv /tmp/usb-cases /cases
cases usb "s#/dev/ttyS1#$usb_jq#; s#/dev/ttyS2#$usb_vn#; s#/dev/ttyS3#$usb_klr#"

# The idle adapter's latency timer (16 ms, as from the factory; QEMU's starts
# at 0) during a read-back with no answers (four queries, a second each) and
# after, with rfcard's low latency and without.
timer=/sys/bus/usb-serial/devices/${usb_idle#/dev/}/latency_timer
echo 16 >"$timer"
for setting in 1 0; do
    before=$(cat "$timer")
    RFCARD_LOW_LATENCY=$setting rfcard --card jq5120 --com "$usb_idle" --part 1 >/dev/null 2>&1 &
    pid=$!
    during=$before
    while kill -0 $pid 2>/dev/null; do
        now=$(cat "$timer")
        [ "$now" = "$before" ] || during=$now
    done
    echo "@@ latency $setting: before $before, during $during, after $(cat "$timer")"
done
# A KLR620 set run (a tenth of a second per command) ended by a signal while
# the port is open: the timer is back as it was all the same.
for signal in INT TERM; do
    before=$(cat "$timer")
    probe -- rfcard --card klr620 --com "$usb_idle" --freq 2400 --gain 10 --band 2 >/dev/null 2>&1 &
    pid=$!
    during=$before
    while [ "$during" = "$before" ] && kill -0 $pid 2>/dev/null; do during=$(cat "$timer"); done
    kill -$signal $pid
    wait $pid
    status=$?
    echo "@@ signal $signal: before $before, during $during, after $(cat "$timer"), status $status"
done
echo "@@ end"
poweroff -f
