#!/usr/bin/env bash
# What recording on this PC costs: N cameras (default 16) of 720p25 at 2 Mbit/s with sound,
# received for S seconds (default 60) by vistrel-cli live (receiving alone), then recorded for
# as long by vistrel-cli record. Prints one JSON line per run and the figures: the recorder's
# CPU beyond receiving, in % of one core, and its writes (bytes handed to write(), SQLite
# included) against the stream bytes it put into segments. Then the timeline index bench.
# Makes its own lab:
#   bench/record/run_record.sh [build folder] [seconds] [cameras]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
seconds=${2:-60}
cameras=${3:-16}
if [[ -z ${LAB_PREFIX:-} ]]; then
  "$root/scripts/lab/lab-run.sh" --camera-addrs "$cameras" -- "$0" "$build" "$seconds" "$cameras"
  echo "timeline: $("$build/bench/record/timeline_bench")"
  exit 0
fi

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$root/data/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=0\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"
cli=$build/src/app/cli/vistrel-cli
sim=$build/tools/camsim/vistrel-camsim

serials=()
entries=()
for i in $(seq "$cameras"); do
  serials+=("$(printf 'BREC%02d' "$i")")
  entries+=("{ \"id\": $((5000 + i)), \"serial\": \"${serials[-1]}\" }")
done
printf '{ "seed": 41, "defaults": { "media": { "width": 1280, "height": 720, "fps": 25, "kbps": 2000, "heartbeat_timeout_s": 60 } }, "cameras": [ %s ] }\n' \
  "$(IFS=,; echo "${entries[*]}")" >"$work/scenario.json"
ip netns exec "$LAB_CAMERA_NS_1" nice -n 5 "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl.sock" >"$work/sim.out" 2>&1 &
for _ in $(seq 3000); do
  grep -q "clips encoded" "$work/sim.out" 2>/dev/null && break
  sleep 0.1
done

# measure NAME COMMAND...: CPU seconds of the command and the bytes it handed to write().
measure() {
  local name=$1
  shift
  python3 - "$work/$name" "$@" <<'PY'
import json, os, resource, subprocess, sys
out = sys.argv[1]
p = subprocess.Popen(sys.argv[2:], stdout=open(out + ".json", "w"), stderr=open(out + ".err", "w"))
# Waited for without being reaped, so that its counters can still be read whole.
os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
with open(f"/proc/{p.pid}/io") as f:
    wchar = int(dict(l.split(": ") for l in f.read().splitlines())["wchar"])
p.wait()
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(json.dumps({"rc": p.returncode, "cpu_s": round(u.ru_utime + u.ru_stime, 2), "wchar": wchar}))
PY
}

live=$(measure live "$cli" --json --wait 30 live "${serials[@]}" --seconds "$seconds")
echo "live: $live $(jq -c '{seconds, frames: ([.cameras[].frames] | add), missing: ([.cameras[].missing_frames] | add)}' "$work/live.json")"
record=$(measure record "$cli" --json --wait 30 record "${serials[@]}" --dir "$work/rec" --seconds "$seconds")
echo "record: $record $(jq -c '{seconds, frames: ([.cameras[].frames] | add), stream_bytes: ([.cameras[].stream_bytes] | add)}' "$work/record.json")"
files=$(find "$work/rec" -name '*.mp4' -printf '%s\n' | awk '{s += $1} END {print s}')
python3 - "$live" "$record" "$work/live.json" "$work/record.json" "$files" <<'PY'
import json, sys
live, record = json.loads(sys.argv[1]), json.loads(sys.argv[2])
lj, rj = json.load(open(sys.argv[3])), json.load(open(sys.argv[4]))
files, stream = int(sys.argv[5]), sum(c["stream_bytes"] for c in rj["cameras"])
extra = (record["cpu_s"] - live["cpu_s"]) / rj["seconds"] * 100
print(json.dumps({
    "cameras": len(rj["cameras"]),
    "live_cpu_pct_of_core": round(live["cpu_s"] / lj["seconds"] * 100, 1),
    "record_cpu_pct_of_core": round(record["cpu_s"] / rj["seconds"] * 100, 1),
    "recording_adds_pct_of_core": round(extra, 1),
    "segment_bytes_over_stream_bytes": round(files / stream, 4),
    "written_bytes_over_stream_bytes": round(record["wchar"] / stream, 4),
}))
PY
