#!/usr/bin/env bash
# The .deb's shared install as two operators in dialout use it, and as a
# hostile one attacks it: replacing the program, planting links, FIFOs and
# folders for the other's next run, chmod before root's run, and racing the
# upgrade that moves old settings (a link swapped in at every new name).
#
# Changes the system: installs and purges the package rfcard, adds and
# removes the users rfcard-op1 and rfcard-op2 (and the group dialout if
# missing), and so makes and removes /opt/rfcard and /var/lib/rfcard. Undone
# on every exit path. Refuses to run where rfcard is installed already.
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

users=(rfcard-op1 rfcard-op2)
a=${users[0]} b=${users[1]}
bin=/opt/rfcard/bin data=/var/lib/rfcard S=/var/lib/rfcard/rfcard.json
on_exit 'for u in "${users[@]}"; do pkill -KILL -u "$u"; sleep 0.2; userdel "$u"; done'
on_exit 'DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh purge -y -qq rfcard'

(cd "$build" && cpack -G DEB >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$(ls -t "$build"/rfcard_*.deb | head -n 1)
DEBIAN_FRONTEND=noninteractive bash scripts/apt-get.sh install -y -qq "$deb" >/dev/null \
  || { echo "cannot install $deb"; exit 1; }
getent group dialout >/dev/null || { groupadd -r dialout; on_exit groupdel dialout; }
for u in "${users[@]}"; do useradd -M -N -G dialout -s /bin/sh "$u"; done

echo "== the installed layout"
check "program folder is root's and writable by nobody else" \
  test -z "$(find /opt/rfcard \( ! -user root -o -perm /022 \) ! -type l)"
check "settings link is root's" test "$(stat -c %U "$bin/rfcard.json")" = root
check "data folder: group dialout, 2770" test "$(stat -c %G:%a "$data")" = dialout:2770
for cmd in rfcard rfcard-strict rfcard-sim; do
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
# 2.6 MB of notes written compactly; indented they would pass the 4 MiB a run loads.
as "$a" sh -c "{ printf '{\"notes\":{'; seq -f '\"%g\":\"x\",' 200000; printf '\"end\":\"x\"}}'; } \
  | tr -d '\n' >$S"
as "$b" rfcard --ch 3 --upgain "compact" 2>"$work/b.err"
check "a compact 2.6 MB file: saved, and within the limit" \
  test "$(stored upgain):$(($(stat -c %s "$S") <= 4194304))" = compact:1
jq 'del(.notes)' "$S" >"$work/small" && cat "$work/small" >"$S"

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

echo "== an upgrade that moves old settings, raced by a member with inotify"
# Root's own file, which the member must never reach.
root_only=$work/root-only
echo "root only" >"$root_only" && chmod 600 "$root_only"
# The member watches the data folder; at every new name it moves the new
# file aside, puts a link to root's file in its place for a moment (the
# time root's next command on that name would take), and moves the file
# back, so that nothing looks amiss afterwards.
cat >"$work/racer.pl" <<'EOF'
$| = 1;
my ($dir, $target) = @ARGV;
my %seen;
open(my $events, '-|', 'inotifywait', '-m', '-q', '-e', 'create,moved_to', '--format', '%f', $dir)
    or die "inotifywait: $!";
print "watching\n";
while (my $name = <$events>) {
    chomp $name;
    next if $name =~ /^\./ || $seen{$name}++;
    rename("$dir/$name", "$dir/.held-$name") or next;
    symlink($target, "$dir/$name");
    select(undef, undef, undef, 0.3);
    rename("$dir/.held-$name", "$dir/$name");
    print "swapped $name\n";
}
EOF
for round in 1 2 3; do
  # The layout an old package left: settings in a group-writable program folder.
  rm -f "$bin/rfcard.json" "$S" && chown root:dialout $bin && chmod 2775 $bin
  printf '{"RFCardParser ch4": {"gain": "migrated%s"}}' "$round" >"$bin/rfcard.json"
  as "$a" perl "$work/racer.pl" "$data" "$root_only" >"$work/racer.out" 2>&1 &
  racer=$!
  for ((t = 0; t < 100; ++t)); do grep -q watching "$work/racer.out" && break; sleep 0.05; done
  dpkg -i "$deb" >/dev/null 2>&1
  check "round $round: the upgrade went through" test $? -eq 0
  sleep 0.6 # the racer puts the file back
  pkill -u "$a"; wait "$racer" 2>/dev/null
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

summary
