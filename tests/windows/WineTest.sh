# What the Wine tests share (sourced, with $linux the Linux build): a work folder of their own
# with the runtime and data folders of the Linux programs in it, removed at the end with what
# still runs ($sim_pid, $console_pid); fail(), which marks the test failed; kelvo-sim published
# under a name, whose pseudo-terminal a test then links COM5 to; and the rows of a log that two
# runs compare.

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-wine-test.XXXXXX")
export XDG_RUNTIME_DIR=$work/runtime XDG_DATA_HOME=$work/data
mkdir -m 700 "$XDG_RUNTIME_DIR"
sim_pid=
console_pid=
failed=0
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  failed=1
}

# passed_or_failed WHAT: the test's end, and its exit status.
passed_or_failed() {
  if [ "$failed" -ne 0 ]; then
    echo "$1 under Wine: FAILED" >&2
    exit 1
  fi
  echo "$1 under Wine: PASSED"
}

# start_sim NAME [options]: a simulator published as NAME; its pseudo-terminal in $sim_pts.
start_sim() {
  local name=$1
  shift
  "$linux/sim/kelvo-sim" --name "$name" "$@" >"$work/$name.sim" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -L "$XDG_RUNTIME_DIR/kelvo-ports/$name" ] && break
    sleep 0.1
  done
  sim_pts=$(readlink "$XDG_RUNTIME_DIR/kelvo-ports/$name")
}

stop_sim() {
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=
}

# The rows of a log from the test's first running row on, without the DT column.
rows_from_start() {
  tr -d '\r' <"$1" | awk -F';' 'NR > 1 && ($3 == 1 || started) { started = 1; print }' |
    cut -d';' -f2-
}
