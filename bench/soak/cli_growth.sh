#!/usr/bin/env bash
# `vistrel-cli live` on one 1080p 8 Mbit/s camera with 2 % loss, 5 % reordering and 2 %
# duplication: RSS and heap in use every 10 s, and their least-squares slopes after the first
# minute (KiB/s). Run in the lab:
#   scripts/lab/lab-run.sh --camera-addrs 16 -- bench/soak/cli_growth.sh <build tree> <data> [seconds] [vistrel-cli]
# GROWTH_WRAP runs the client under a tool ("heaptrack -o FILE"); the samples then are the tool's.
set -uo pipefail
build=$(realpath "$1") data=$(realpath "$2") seconds=${3:-240} cli=${4:-$1/src/app/cli/vistrel-cli}
sim=$build/tools/camsim/vistrel-camsim
work=$(mktemp -d)
trap '"$sim" --send "$work/ctl" quit >/dev/null 2>&1; wait; rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home XDG_RUNTIME_DIR=$work/run VISTREL_HEALTH=$work/health
mkdir -p "$VISTREL_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$data/CameraType.ini" "$data/Vistrel.ini" "$VISTREL_HOME/"
read -ra addrs <<<"$LAB_CAMERA_ADDRS_1"
addr=${addrs[0]}
# GROWTH_CAMERAS more cameras (default 1), 720p 2 Mbit/s beside the first.
n=${GROWTH_CAMERAS:-1} serials=(GROW)
printf '{ "seed": 7, "cameras": [ { "address": "%s", "id": 5300, "serial": "GROW", "media": { "codec": "h264", "width": 1920, "height": 1080, "fps": 25, "kbps": 8000, "gop": 50, "faults": { "out": { "loss": 0.02, "reorder": 0.05, "duplicate": 0.02 } } } }' \
  "$addr" >"$work/sc.json"
for ((i = 2; i <= n; i++)); do
  printf ', { "address": "%s", "id": %d, "serial": "GROW%d", "media": { "faults": { "out": { "loss": 0.02, "reorder": 0.05, "duplicate": 0.02 } } } }' \
    "${addrs[i - 1]}" $((5300 + i)) "$i" >>"$work/sc.json"
  serials+=("GROW$i")
done
echo '] }' >>"$work/sc.json"
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/sc.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl" >"$work/sim.out" 2>&1 &
for _ in $(seq 600); do grep -q "clips encoded" "$work/sim.out" && break; sleep 0.1; done
${GROWTH_WRAP:-} "$cli" --wait 30 live "${serials[@]}" --seconds $((seconds + 20)) >"$work/cli.out" 2>&1 &
pid=$!
t0=$(date +%s)
while (($(date +%s) - t0 < seconds)); do
  sleep 10
  heap=$(tail -n 1 "$work/health" 2>/dev/null | sed -n 's/.*heap_used=\([0-9]*\).*/\1/p')
  echo "$(($(date +%s) - t0)) $(awk '/^VmRSS/ { print $2 }' /proc/$pid/status) $((${heap:-0} / 1024))"
done | tee "$work/samples"
wait $pid
awk '$1 >= 60 { n++; x += $1; y += $2; h += $3; xx += $1 * $1; xy += $1 * $2; xh += $1 * $3 }
  END { d = n * xx - x * x; printf "after the first minute: RSS %+.2f KiB/s, heap %+.2f KiB/s (%d samples)\n",
        (n * xy - x * y) / d, (n * xh - x * h) / d, n }' "$work/samples"
