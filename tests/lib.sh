# What the shell suites share (sourced): `harness NAME` gives a private work
# folder $work under /tmp, clean-up on every exit path, and the counters
# `check` keeps and `summary` prints.

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

# inside PATH: ends the suite unless PATH lies in $work.
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

# sim VAR BUILD ARGS...: rfcard-sim with ARGS until exit ($sim_pid, stderr
# in $work/sim-VAR.err); VAR gets its device.
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
