#!/usr/bin/env bash
# Runs one command in the client namespace of a lab made for this run alone and removes the lab on
# every way out, also when the command fails or the run is interrupted.
#
#   lab-run.sh [--prefix P] [lab options] -- command...
#   lab-run.sh --host -- command...
#
# Lab options are those of "lab.sh up" (--cameras, --camera-addrs, --client-addrs, --client-links,
# --other-subnet). The lab's layout is exported (LAB_PREFIX, LAB_CLIENT_NS, LAB_CAMERA_NS, ...; see
# README.md). --host makes no lab and runs the command where it is, for tests that make labs
# themselves; the machine checks and the removal of stale labs still happen.
#
# Exit codes: the command's; 77 when this machine cannot host a lab; lab.sh's code when the lab
# cannot be made (3: the prefix is taken).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lab=$here/lab.sh

usage() {
  sed -n '5,6p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

prefix='' host=0 args=()
while (($#)); do
  case $1 in
  --) shift; break ;;
  --host) host=1; shift ;;
  --prefix) prefix=${2-}; shift 2 || usage ;;
  --owner-pid | --env-file | -h | --help) usage ;;
  *) args+=("$1"); shift ;;
  esac
done
(($#)) || usage

# Checks the machine too. A run killed outright (a ctest time-out sends SIGKILL) leaves its lab
# behind; its owner pid is dead, so the next run removes it.
"$lab" cleanup-stale
rc=$?
((rc == 77 || rc == 2)) && exit $rc

((host)) && exec "$@"

if [[ -z $prefix ]]; then
  letters=abcdefghijklmnopqrstuvwxyz
  # Short, so that derived names stay readable; the pid keeps runs apart, the letters keep a reused
  # pid apart from a stale lab.
  prefix=vl$$${letters:RANDOM%26:1}${letters:RANDOM%26:1}
fi
env_file=${LAB_ENV_DIR:-$(cd "$here/../.." && pwd)/build/lab}/$prefix.env

made=0 child='' signal=0
# shellcheck disable=SC2317 # called from the traps
on_signal() {
  signal=$2
  [[ -n $child ]] && kill -s "$1" "$child" 2>/dev/null
  return 0
}
trap 'on_signal INT 2' INT
trap 'on_signal TERM 15' TERM
trap 'on_signal HUP 1' HUP
trap '((made)) && { "$lab" down --prefix "$prefix" || echo "lab-run: removing lab $prefix failed" >&2; }' EXIT

"$lab" up --prefix "$prefix" --owner-pid $$ --env-file "$env_file" "${args[@]}" >/dev/null
rc=$?
((rc == 0)) || exit $rc
# shellcheck disable=SC2034 # read by the EXIT trap
made=1
((signal)) && exit $((128 + signal))

set -a
# shellcheck disable=SC1090
. "$env_file"
set +a

# The command runs in the background so that a signal reaches this script while it waits; stdin is
# handed over explicitly because a background job would otherwise read from /dev/null.
if { exec 3<&0; } 2>/dev/null; then
  ip netns exec "$LAB_CLIENT_NS" "$@" <&3 3<&- &
else
  ip netns exec "$LAB_CLIENT_NS" "$@" </dev/null &
fi
child=$!
while :; do
  wait "$child"
  rc=$?
  # An interrupted wait returns while the command still runs: wait again for its own code.
  kill -0 "$child" 2>/dev/null || break
done
exit $rc
