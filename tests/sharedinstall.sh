#!/usr/bin/env bash
# The .deb's shared install as two operators in dialout use it, and as a
# hostile one attacks it (docs/reliability.md). Installs and purges rfcard,
# adds and removes users rfcard-op1 and rfcard-op2, undone on every exit path;
# refused where rfcard is installed already.
#   tests/sharedinstall.sh [BUILD_DIR]   (root only, as CI runs it)
set -uo pipefail
cd "$(dirname "$0")/.."
. tests/lib.sh
harness sharedinstall
need_root
build=$(realpath "${1:-build}")
bash scripts/deps.sh passwd util-linux inotify-tools jq >/dev/null
if dpkg-query -W -f='${Status}' rfcard 2>/dev/null | grep -q installed \
  || [ -e /opt/rfcard ] || [ -e /var/lib/rfcard ]; then
  echo "sharedinstall: rfcard is installed here already; refused (it would be purged)" >&2
  exit 2
fi

users=(rfcard-op1 rfcard-op2 rfcard-op3) # op3 is no member of dialout
a=${users[0]} b=${users[1]} c=${users[2]}
bin=/opt/rfcard/bin data=/var/lib/rfcard S=/var/lib/rfcard/rfcard.json
on_exit 'for u in "${users[@]}"; do pkill -KILL -u "$u"; sleep 0.2; userdel "$u"; done'
on_exit 'DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh purge -y -qq rfcard'

(cd "$build" && cpack -G DEB >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$(ls -t "$build"/rfcard_*.deb | head -n 1)
DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh install -y -qq "$deb" >/dev/null \
  || { echo "cannot install $deb"; exit 1; }
getent group dialout >/dev/null || { groupadd -r dialout; on_exit groupdel dialout; }
for u in "$a" "$b"; do useradd -M -N -G dialout -s /bin/sh "$u"; done
useradd -M -N -s /bin/sh "$c"

echo "== the installed layout"
check "program folder is root's and writable by nobody else" \
  test -z "$(find /opt/rfcard \( ! -user root -o -perm /022 \) ! -type l)"
check "settings link is root's" test "$(stat -c %U "$bin/rfcard.json")" = root
check "data folder: group dialout, 2770" test "$(stat -c %G:%a "$data")" = dialout:2770
for cmd in rfcard rfcard-strict rfcard-sim rfcardd; do
  check "$cmd on the PATH" test "$(readlink -f /usr/bin/$cmd)" = $bin/$cmd
  check "$cmd completion" test -f "$(readlink -f /usr/share/bash-completion/completions/$cmd)"
done

echo "== each operator sets, the other reads back"
sim port "$build" --family klr
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
check "the settings stay shared" test "$(stat -c %G:%a "$S")" = dialout:660

echo "== what one member leaves in the shared settings, as another meets it"
mv "$S" "$work/settings"
as "$b" rfcard-strict --card klr620 --com "$port" --ch 0 --band 2 >/dev/null 2>"$work/b.err"
check "a missing shared file is said, not failed" grep -q \
  "^rfcard-strict: no stored settings ($S does not exist): the other channels start" "$work/b.err"
mv "$work/settings" "$S"
# A member's own card player, its pty open to all, made the shared port.
runuser -u "$a" -- $bin/rfcard-sim --family klr --trace >"$work/fake.out" 2>"$work/fake.err" &
fake=$! && on_exit "kill $fake"
for ((t = 0; t < 400; ++t)); do [ -s "$work/fake.out" ] && break; sleep 0.05; done
fake_port=$(head -n 1 "$work/fake.out")
as "$a" chmod 666 "$fake_port" && as "$a" rfcard --com "$fake_port" --part 2 2>/dev/null
as "$b" rfcard-strict --ch 0 --freq 2000 --band 2 2>"$work/b.err"
check "another's pty as the stored port: 4" test $? -eq 4
check "with its owner named" grep -q "belongs to $a (user [0-9]*), neither you nor root" "$work/b.err"
check "and nothing sent" fails grep -q " rx " "$work/fake.err"
as "$a" rfcard-strict --ch 0 --freq 2000 --band 2 2>/dev/null
check "its owner's run takes it" test $? -eq 0
as "$b" rfcard-strict --com "$fake_port" --ch 0 --freq 2000 --band 2 2>/dev/null
check "given with --com, it is taken" test $? -eq 0
as "$a" rfcard --com "$port" --part 2 2>/dev/null
# A member's folder, and a lock file nobody may read, at the shared names.
as "$a" sh -c "mv $S $S.away && mkdir -m 700 $S"
as "$b" rfcard --ch 3 --upgain folder 2>"$work/b.err"
check "a folder at the settings name: whose, and who may remove it" grep -q \
  "is a folder, not a regular file (owned by $a (user [0-9]*); any member of the group dialout may remove it)" \
  "$work/b.err"
as "$a" sh -c "rmdir $S && mv $S.away $S && rm -f $S.lock && : >$S.lock && chmod 000 $S.lock"
as "$b" rfcard --ch 3 --upgain locked 2>"$work/b.err"
check "a lock of mode 000: whose, and who may remove it" grep -q \
  "belongs to $a (user [0-9]*) and has mode 000; any member of the group dialout may remove it" \
  "$work/b.err"
check "and $b may" as "$b" rm -f "$S.lock"

echo "== nobody can replace the program"
for u in "$a" "$b"; do
  check "$u cannot overwrite rfcard" fails as "$u" cp /bin/true $bin/rfcard
  check "$u cannot rename rfcard" fails as "$u" mv $bin/rfcard $bin/x
  check "$u cannot add to its folder" fails as "$u" touch $bin/new
  check "$u cannot move the settings link" fails as "$u" ln -sfn "/tmp/$u" $bin/rfcard.json
done

echo "== what one operator does to the shared file does not lock the other out"
stored() { jq -r --arg k "$1" '.["RFCardParser ch4"][$k]' "$S"; }
for mode in 600 6777; do
  as "$a" rfcard --card none --com /nonexistent/rfcard --ch 3 --upgain "a$mode" 2>/dev/null
  as "$a" chmod "$mode" "$S"
  rfcard --ch 3 --upgain "root$mode" 2>"$work/root.err"
  check "chmod $mode, then root saves: group read and write, nothing else" \
    test "$(stat -c %U:%G:%a "$S")" = root:dialout:660
  as "$b" rfcard --ch 3 --upgain "b$mode" 2>"$work/b.err"
  check "chmod $mode, root saved: $b saves after" test "$(stored upgain)" = "b$mode"
done
as "$a" mkdir "$S.tmp"
as "$b" rfcard --ch 3 --upgain "past-a-folder" 2>"$work/b.err"
check "a folder at the temporary name: saved past it" test "$(stored upgain)" = past-a-folder
rmdir "$S.tmp"

# The member's watcher, on a folder: at each new name it swaps (the file
# aside, a link to root's file there for a moment, the file back) or plants
# (a file of its own over a name dpkg is about to move into place). It says
# "watching" once watching, and ends at "racer-stop", after all before it.
cat >"$work/racer.pl" <<'EOF'
$| = 1;
my ($mode, $dir, $file) = @ARGV;
my %seen;
my $watcher = open(my $events, '-|', "exec inotifywait -m -e create,moved_to --format %f '$dir' 2>&1")
    or die "inotifywait: $!";
while (my $name = <$events>) {
    chomp $name;
    print "watching\n" if $name eq 'Watches established.';
    last if $name eq 'racer-stop';
    next if $name =~ /^\./ || $seen{$name}++;
    if ($mode eq 'plant') {
        next unless $name =~ /\.dpkg-new$/;
        print rename($file, "$dir/$name") ? "planted $name\n" : "refused $name: $!\n";
    } else {
        rename("$dir/$name", "$dir/.held-$name") or next;
        symlink($file, "$dir/$name");
        select(undef, undef, undef, 0.3);
        rename("$dir/.held-$name", "$dir/$name");
        print "swapped $name\n";
    }
}
kill 'TERM', $watcher;
EOF
race() { # MODE FOLDER FILE: starts the member's watcher, waits until it watches
  timeout 300 runuser -u "$a" -- perl "$work/racer.pl" "$@" >"$work/racer.out" 2>&1 &
  racer=$! racer_dir=$2
  for ((t = 0; t < 600; ++t)); do grep -q watching "$work/racer.out" && return; sleep 0.05; done
  echo "harness: the watcher did not start"; exit 2
}
race_end() { touch "$racer_dir/racer-stop"; wait "$racer"; rm -f "$racer_dir/racer-stop"; }
install_deb() { DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh install -y -qq --reinstall \
  --allow-downgrades "$1" >"$work/apt.out" 2>&1; }
old_layout() { chown root:dialout $bin && chmod 2775 $bin; } # as packages before 1.0.2-2 left it

echo "== an upgrade from 1.0.2-1, whose program folder the group may write, raced by a member"
# That package: this one with its scripts (no preinst, an opening postinst).
old=$work/old-deb
dpkg-deb -R "$deb" "$old" && rm -f "$old/DEBIAN/preinst"
sed -i 's/^Version: .*/Version: 1.0.2-1/' "$old/DEBIAN/control"
cat >"$old/DEBIAN/postinst" <<'EOF'
#!/bin/sh
set -e
dir=/opt/rfcard/bin
if [ "$1" = configure ]; then
    if getent group dialout >/dev/null; then
        chgrp dialout "$dir"
        chmod 2775 "$dir"
    fi
fi
exit 0
EOF
dpkg-deb -b "$old" "$work/rfcard_1.0.2-1.deb" >/dev/null
DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh purge -y -qq rfcard >/dev/null
install_deb "$work/rfcard_1.0.2-1.deb"
check "the old package leaves the folder open" test "$(stat -c %G:%a $bin)" = dialout:2775
as "$a" sh -c "printf '#!/bin/sh\necho mine\n' >$bin/.mine && chmod 755 $bin/.mine \
  && echo '[Paths]' >$bin/qt.conf && mkdir -m 2777 $bin/sub $bin/rfcard.json.tmp \
  && echo '{\"RFCardParser ch4\": {\"gain\": \"theirs\"}}' >$bin/rfcard.json"
race plant $bin $bin/.mine
install_deb "$deb"
check "the upgrade went through" test $? -eq 0
race_end
check "the member tried to plant a program" grep -q "rfcard.dpkg-new" "$work/racer.out"
check "and was refused" fails grep -q "^planted" "$work/racer.out"
check "rfcard is the package's" test -z "$(dpkg --verify rfcard)"
check "the program folder is root's alone" \
  test -z "$(find /opt/rfcard ! -path '/opt/rfcard/quarantine*' \( ! -user root -o -perm /022 \) ! -type l)"
for name in .mine qt.conf sub rfcard.json.tmp; do
  check "$name moved aside" test ! -e "$bin/$name" -a -e "$(echo /opt/rfcard/quarantine/*/bin%$name)"
done
check "the quarantine is root's alone" test "$(stat -c %U:%a /opt/rfcard/quarantine)" = root:700
check "the old settings moved over" test "$(jq -r '.["RFCardParser ch4"].gain' "$S")" = theirs
check "the settings link is root's" test "$(stat -c %U "$bin/rfcard.json")" = root

echo "== upgrades raced in the data folder, and names taken in advance"
# Root's own file, which the member must never reach.
root_only=$work/root-only
echo "root only" >"$root_only" && chmod 600 "$root_only"
for round in 1 2 3; do
  rm -f "$bin/rfcard.json" "$S" && old_layout
  printf '{"RFCardParser ch4": {"gain": "migrated%s"}}' "$round" >"$bin/rfcard.json"
  race swap "$data" "$root_only"
  install_deb "$deb"
  check "round $round: the upgrade went through" test $? -eq 0
  race_end
  check "round $round: the member raced" grep -q "swapped rfcard.json" "$work/racer.out"
  check "round $round: root's file keeps owner, group and mode" \
    test "$(stat -c %U:%G:%a "$root_only")" = root:root:600
  check "round $round: and its content" test "$(cat "$root_only")" = "root only"
  check "round $round: the old settings moved over" \
    test "$(jq -r '.["RFCardParser ch4"].gain' "$S" 2>/dev/null)" = "migrated$round"
  check "round $round: as root's file, for the group" test "$(stat -c %U:%G:%a "$S")" = root:dialout:660
  check "round $round: program folder closed again" test "$(stat -c %U:%G:%a $bin)" = root:root:755
  check "round $round: the link is back" test "$(readlink $bin/rfcard.json)" = "$S"
done
# Old settings whose names for the next two minutes are folders; a folder
# where the settings link goes.
old_layout && rm -f "$bin/rfcard.json"
echo '{"RFCardParser ch4": {"gain": "dated"}}' >"$bin/rfcard.json.bad"
as "$a" sh -c "now=\$(date +%s); mkdir $S.bad $bin/rfcard.json; for s in \$(seq 0 120); do
  mkdir $S.bad.from-\$(date -d @\$((now + s)) +%Y%m%d%H%M%S); done"
install_deb "$deb"
check "names taken: the upgrade went through" test $? -eq 0
check "names taken: configured" test "$(dpkg-query -W -f='${Status}' rfcard)" = "install ok installed"
kept=$(tr -d '\r' <"$work/apt.out" | grep -o "kept as [^ ]*" | cut -d' ' -f3)
check "names taken: the old file kept under a free name" \
  test "$(jq -r '.["RFCardParser ch4"].gain' "$kept" 2>/dev/null)" = dated
check "names taken: the settings link is root's" test "$(readlink $bin/rfcard.json)" = "$S"
check "names taken: no migration folder left" test -z "$(ls -d /var/lib/.rfcard-migrate.* 2>/dev/null)"

echo "== the card service, as its units start it (here without systemd)"
# rfcardd@lab.socket and rfcardd@lab.service, by hand: the socket made for
# the group, rfcardd as its own user with the socket passed on.
sim svc "$build" --family vn --trace
chgrp dialout "$svc" && chmod 660 "$svc" # as a serial port is
printf 'CARD=VN2810\nCOM=%s\n' "$svc" >/etc/rfcard/rfcardd/lab.conf
quiet() { "$@" >/dev/null 2>&1; }
check "the units verify" systemd-analyze verify rfcardd@lab.socket rfcardd@lab.service
check "the service's exposure is low" quiet systemd-analyze security --offline=true \
  --threshold=20 /lib/systemd/system/rfcardd@.service
check "its user is a system user in dialout" \
  test "$(id -u rfcardd)" -lt 1000 -a "$(id -u rfcardd)" -gt 0 -a -n "$(id -Gn rfcardd | grep -w dialout)"
service_uid=$(id -u rfcardd)
# As rfcardd@lab.socket makes the sockets, then as rfcardd@lab.service starts it.
install -d -m 755 /run/rfcard
systemd-socket-activate -l /run/rfcard/lab.sock --fdname=control \
  -l /run/rfcard/lab-ro.sock --fdname=read-only \
  setpriv --reuid=rfcardd --regid=rfcardd --init-groups \
  $bin/rfcardd --name lab --card VN2810 --com "$svc" --listen none >/dev/null 2>>"$work/rfcardd.log" &
on_exit "kill $!"
for ((t = 0; t < 400; ++t)); do [ -S /run/rfcard/lab-ro.sock ] && break; sleep 0.05; done
chgrp dialout /run/rfcard/lab.sock && chmod 660 /run/rfcard/lab.sock
chmod 666 /run/rfcard/lab-ro.sock
as "$a" rfcard-strict --service lab --ch 1 --freq 1500 2>"$work/a.err"
check "a member sets through the service" test $? -eq 0
as "$b" rfcard-strict --service lab --part 1 --gch 1 >"$work/b.out" 2>/dev/null
check "and the card holds it" grep -q '"freq": "1500.000"' "$work/b.out"
check "the log names the member and the set" grep -q \
  "uid [0-9]* ($a) on /run/rfcard/lab.sock: VN2810 CHANnel2:FREQuency 1500: verified" "$work/rfcardd.log"
as "$c" rfcard-strict --service lab --part 1 2>"$work/c.err"
check "a non-member cannot connect" test $? -eq 4
check "and is told why" grep -q "lab.sock lets its owner root and the group dialout connect" "$work/c.err"
as "$a" rfcard-strict --service lab --com /dev/ttyS0 --ch 1 --freq 1200 2>/dev/null
check "no member points the service at another port" test $? -eq 2
as "$b" rfcard-strict --card vn2810 --com "$svc" --freq 1200 2>"$work/b.err"
check "the port the service holds, without it: 4" test $? -eq 4
check "and the option to use" grep -q "the rfcard service lab owns the port: give --service lab" "$work/b.err"
check "the read-only socket answers" \
  test "$(as "$c" rfcard-strict --service /run/rfcard/lab-ro.sock --part 1 --gch 1 2>/dev/null | jq -r .freq)" = 1500.000
as "$c" rfcard-strict --service /run/rfcard/lab-ro.sock --ch 1 --freq 1200 2>"$work/c.err"
check "and refuses sets" grep -q "Command protected" "$work/c.err"
old_deb=$work/rfcard_1.0.2-4.deb
dpkg-deb -R "$deb" "$work/4" && sed -i 's/^Version: .*/Version: 1.0.2-4/' "$work/4/DEBIAN/control"
dpkg-deb -b "$work/4" "$old_deb" >/dev/null
install_deb "$old_deb" && install_deb "$deb"
check "upgraded from 1.0.2-4 with the service running" test $? -eq 0
as "$a" rfcard-strict --service lab --ch 1 --freq 1300 2>/dev/null
check "it serves on" test $? -eq 0

echo "== purge, while a member's process keeps writing in a folder of its own there"
as "$a" mkdir "$data/mine"
timeout 300 runuser -u "$a" -- sh -c "cd $data/mine && i=0 && while :; do : >f\$i; i=\$((i + 1)); done" \
  2>/dev/null &
writer=$!
DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh purge -y -qq rfcard >"$work/apt.out" 2>&1
check "purge went through" test $? -eq 0
check "purged, not half removed" fails dpkg-query -W -f='${Status}' rfcard
check "the settings folder is gone" test ! -e "$data"
kill "$writer" 2>/dev/null; wait "$writer" 2>/dev/null
check "nothing left behind" test -z "$(ls -d /var/lib/.rfcard-purged.* /opt/rfcard 2>/dev/null)"
check "the service's user is gone" fails id rfcardd
check "no listener left" test -z "$(pgrep -U "$service_uid"; ls /run/rfcard 2>/dev/null)"

summary
