# Helpers of the end-to-end scenarios: a simulator in the lab's camera namespace, the
# command-line client in the client namespace, and checks on what both say. Sourced by
# scenarios.sh, which runs inside lab-run.sh.

set -uo pipefail

work=$(mktemp -d)
sim_pids=()
failures=0

cleanup() {
  local pid
  for pid in "${sim_pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if ((failures)) && [[ -d $work/home ]]; then
    echo "--- client log (last lines)"
    tail -n 40 "$work"/home/DebugInfo.*.log 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The client reads its settings from here; the model table comes from the repository.
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$E2E_DATA/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=2\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"

# Each verdict with the seconds since the test began: where a time-out went shows in its output.
fail() {
  echo "FAIL: $* [${SECONDS} s]" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $* [${SECONDS} s]"; }

# expect_eq WHAT GOT WANT
expect_eq() {
  if [[ $2 == "$3" ]]; then pass "$1 = $3"; else fail "$1: got '$2', want '$3'"; fi
}

# start_sim SCENARIO_FILE [NAMESPACE] [ADDRESSES]: the simulator, ready to answer.
start_sim() {
  local scenario=$1 ns=${2:-$LAB_CAMERA_NS_1} addrs=${3:-$LAB_CAMERA_ADDRS_1}
  sim_ctl=$work/ctl.$RANDOM.sock
  ip netns exec "$ns" "$E2E_SIM" --scenario "$scenario" --addresses "$addrs" --control "$sim_ctl" \
    >"$work/sim.out" 2>&1 &
  sim_pids+=($!)
  local _
  for _ in $(seq 100); do
    [[ -S $sim_ctl ]] && return 0
    sleep 0.1
  done
  fail "simulator did not start: $(cat "$work/sim.out")"
  exit 1
}

# sim COMMAND...: one control command, its JSON answer on stdout.
sim() { "$E2E_SIM" --send "$sim_ctl" "$@"; }

# cli ARGS...: the client; its exit code in $cli_rc, its stdout in $work/out.
cli() {
  "$E2E_CLI" "$@" >"$work/out" 2>"$work/err"
  cli_rc=$?
  return 0
}
out() { cat "$work/out"; }

# expect_rc WHAT WANT: the last client exit code.
expect_rc() {
  if [[ $cli_rc == "$2" ]]; then
    pass "$1 (exit $2)"
  else
    fail "$1: exit $cli_rc, want $2; stderr: $(cat "$work/err") stdout: $(head -c 2000 "$work/out")"
  fi
}

# scenario_file NAME JSON: writes a scenario and prints its path.
scenario_file() {
  printf '%s\n' "$2" >"$work/$1.json"
  echo "$work/$1.json"
}

finish() {
  if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}

# dump CAMERA: the simulator's state of one camera, as JSON.
dump() { sim dump "$1" | jq -c .camera; }
