#!/usr/bin/env bash
# apt-get that waits for a package lock held by another apt (unattended
# upgrades hold it for minutes on many machines) instead of failing:
# RFCARD_APT_LOCK_WAIT seconds, default 300. apt's own DPkg::Lock::Timeout
# covers the dpkg lock of an install; `update` takes the package lists' lock
# without waiting, so that one is taken here first, waiting, and handed over:
# a lock on a file belongs to the process, and apt-get, exec'd in its place
# with the file still open, takes it again as its own. As root, or through
# sudo.
set -euo pipefail
wait=${RFCARD_APT_LOCK_WAIT:-300}
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
exec "${sudo[@]}" env DEBIAN_FRONTEND="${DEBIAN_FRONTEND:-}" perl -e '
  use Fcntl qw(F_SETLK F_SETLKW F_SETFD F_WRLCK SEEK_SET O_RDWR O_CREAT);
  my ($wait, @cmd) = @ARGV;
  our $lists;
  if (grep { $_ eq "update" } @cmd
      and sysopen($lists, "/var/lib/apt/lists/lock", O_RDWR | O_CREAT, 0640)) {
      # struct flock of 64-bit Linux: type, whence, start, length, pid.
      my $lock = pack("s s x4 q q i x4", F_WRLCK, SEEK_SET, 0, 0, 0);
      unless (fcntl($lists, F_SETLK, $lock)) {
          print STDERR "apt-get.sh: waiting up to $wait s for another apt to finish\n";
          local $SIG{ALRM} = sub { die "late\n" };
          alarm $wait;
          eval { fcntl($lists, F_SETLKW, $lock) } or undef $lists;
          alarm 0;
      }
      fcntl($lists, F_SETFD, 0) if $lists; # stays open across the exec
  }
  exec @cmd or die "apt-get.sh: $cmd[0]: $!\n";
' "$wait" apt-get -o DPkg::Lock::Timeout="$wait" "$@"
