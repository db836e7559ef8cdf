#!/usr/bin/env bash
# Client CPU while it receives one live stream from the simulator (default 1080p, 8 Mbit/s,
# 25 frames/s) for a while; run inside the lab:
#   scripts/lab/lab-run.sh -- bench/media/media_live_cpu.sh <vistrel-cli> <vistrel-camsim> <data folder> [seconds]
# Prints the client's user and system CPU over the run's wall time, and what live reported.
set -uo pipefail
cli=$1 sim=$2 data=$3 seconds=${4:-20}
work=$(mktemp -d)
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=1\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"
printf '%s\n' '{ "seed": 21, "cameras": [ { "id": 4690, "serial": "VSCPU",
  "media": { "codec": "h264", "width": 1920, "height": 1080, "fps": 25, "kbps": 8000, "gop": 50 } } ] }' \
  >"$work/sc.json"
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/sc.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 300); do [[ -S $work/ctl ]] && break; sleep 0.1; done
"$sim" --send "$work/ctl" list >/dev/null
TIMEFORMAT='%U %S %R'
{ time "$cli" --json --wait 30 live VSCPU --seconds "$seconds" >"$work/out"; } 2>"$work/time"
read -r user sys real <"$work/time"
jq -c '.cameras[0] + {dropped_frames, dropped_segments} | {codec, width, height, fps, kbps, frames, audio_frames, missing_frames, dropped_frames, dropped_segments}' "$work/out"
awk -v u="$user" -v s="$sys" -v r="$real" \
  'BEGIN { printf "client CPU: user %.2f s + system %.2f s over %.2f s = %.1f %% of one core\n", u, s, r, 100 * (u + s) / r }'
