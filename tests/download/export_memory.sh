#!/usr/bin/env bash
# The export streams: its peak memory with ten times the input stays where it is with one
# file (reading every file whole, it grew by twice the input). No network: it runs anywhere.
#   export_memory.sh <vistrel-cli> <make_recording>
set -uo pipefail
cli=$1 make=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
# In the sanitizer tree, freed memory waits in AddressSanitizer's quarantine and would count.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0:thread_local_quarantine_size_kb=0
mkdir -p "$VISTREL_HOME"
T0=1714637700
# Ten files of 60 s at about 350 KiB per second: some 21 MiB each.
for i in $(seq 0 9); do
  "$make" "$work/rec" $((T0 + 100 * i)) 60 || exit 1
done
mapfile -t files < <(ls "$work"/rec/*.avi)
((${#files[@]} == 10)) || { echo "FAIL: ${#files[@]} files made"; exit 1; }
peak() { # peak RSS in KiB of an export of the files given (the child's, as getrusage has it)
  python3 -c '
import resource, subprocess, sys
with open(sys.argv[1], "w") as out, open(sys.argv[2], "w") as err:
    rc = subprocess.call(sys.argv[3:], stdout=out, stderr=err)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
sys.exit(rc)' "$work/out" "$work/err" "$cli" --json export "$@" -o "$work/out.mp4" >"$work/rss" ||
    { echo "FAIL: export: $(cat "$work/err" "$work/out")"; exit 1; }
  cat "$work/rss"
}
one=$(peak "${files[0]}")
ten=$(peak "${files[@]}")
input=$(du -k -c "${files[@]}" | tail -1 | cut -f1)
frames=$(jq .video_frames "$work/out")
echo "peak RSS: one file ${one} KiB, ten files (${input} KiB) ${ten} KiB; ${frames} frames"
[[ $frames == 15000 ]] || { echo "FAIL: $frames frames exported, want 15000"; exit 1; }
if ((ten > one + 20480)); then
  echo "FAIL: ten files took $((ten - one)) KiB more than one"
  exit 1
fi
echo "ok"
