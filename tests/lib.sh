# What the shell suites share; sourced, never run. A suite calls
# `harness NAME` first: it gets a private work folder $work (a fresh mktemp
# folder under /tmp, world-searchable so that other users' runs reach what
# it puts there), clean-up that runs on every exit path (a signal included),
# and the counters that `check` keeps and `summary` prints as its last line.
# Everything a suite creates, it creates under $work or says so at its top.

harness() {
  _name=$1 passed=0 failed=0 _cleanups=()
  work=$(mktemp -d "/tmp/rfcard-$_name.XXXXXX") || exit 2
  chmod 755 "$work"
  trap _harness_exit EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

# on_exit COMMAND: run at exit, the last registered first.
on_exit() { _cleanups+=("$*"); }

_harness_exit() {
  local i
  for ((i = ${#_cleanups[@]} - 1; i >= 0; --i)); do eval "${_cleanups[i]}" >/dev/null 2>&1; done
  [ -n "${work:-}" ] && [[ $work == /tmp/rfcard-* ]] && rm -rf "$work"
}

# inside PATH: refuses (ends the suite) unless PATH lies in $work, for a
# suite about to make or remove something there as root.
inside() {
  case $(realpath -m "$1") in
    "$work"/*) ;;
    *) echo "harness: $1 is outside the work folder $work; refused" >&2; exit 2 ;;
  esac
}

# check WHAT COMMAND...: a check passes when the command succeeds.
check() {
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}
fails() { ! "$@" 2>/dev/null; }

# summary: the suite's last line, and its status.
summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

need_root() { [ "$(id -u)" -eq 0 ] || { echo "$_name: needs root" >&2; exit 2; }; }

# as USER COMMAND...: the command as another user, bounded.
as() { local u=$1; shift; timeout 30 runuser -u "$u" -- "$@"; }

# sim VAR BUILD ARGS...: starts rfcard-sim with ARGS (stderr to $work/sim-VAR.err),
# stops it at exit (or earlier: its process is $sim_pid), and sets VAR to the
# device it serves.
sim() {
  local var=$1 build=$2; shift 2
  rm -f "$work/sim-$var.out" # the redirect truncates only once the simulator runs
  "$build/rfcard-sim" "$@" >"$work/sim-$var.out" 2>"$work/sim-$var.err" &
  sim_pid=$!
  on_exit "kill $sim_pid"
  local t
  for ((t = 0; t < 400; ++t)); do [ -s "$work/sim-$var.out" ] && break; sleep 0.05; done
  [ -s "$work/sim-$var.out" ] || { echo "harness: rfcard-sim did not start" >&2; exit 2; }
  printf -v "$var" '%s' "$(head -n 1 "$work/sim-$var.out")"
}
