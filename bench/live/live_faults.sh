#!/usr/bin/env bash
# Live view on a link that loses and reorders the camera's segments: for each loss rate (with 5 %
# reordering) at 1280x720 2 Mbit/s and 1920x1080 8 Mbit/s (25 frames/s, H.264, a key frame every
# 2 s), the time from opening the camera to its first picture (median of OPENS opens through
# `vistrel-cli snapshot`, which opens a camera with the desktop pane's own logic and decoder and
# reports first_picture_ms), then the desktop client under Xvfb (live_desktop.sh): rendered frames
# per second, CPU, and arrival-to-window time. Run inside the lab:
#   scripts/lab/lab-run.sh -- bench/live/live_faults.sh <build tree> <data folder> [seconds] [opens]
# LOSSES ("0 0.005 0.01 0.02") and SIZES ("1280 720 2000;1920 1080 8000") choose the runs;
# LIVE_CLIENT and LIVE_CLI measure other client binaries in the same way.
set -uo pipefail
build=$1 data=$2 seconds=${3:-15} opens=${4:-10}
here=$(cd "$(dirname "$0")" && pwd)
cli=${LIVE_CLI:-$build/src/app/cli/vistrel-cli} sim=$build/tools/camsim/vistrel-camsim
work=$(mktemp -d)
pid=
trap '[[ -n $pid ]] && kill $pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$VISTREL_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$data/CameraType.ini" "$data/Vistrel.ini" "$VISTREL_HOME/"
"$build/tools/regsvr/vistrel-regsvr" "$build/src/filter/libZebH264Filter.so" >/dev/null
read -r addr _ <<<"$LAB_CAMERA_ADDRS_1"
IFS=';' read -ra sizes <<<"${SIZES:-1280 720 2000;1920 1080 8000}"
for size in "${sizes[@]}"; do
  read -r w h kbps <<<"$size"
  for loss in ${LOSSES:-0 0.005 0.01 0.02}; do
    faults="{\"out\": {\"loss\": $loss, \"reorder\": 0.05}}"
    printf '{ "seed": 7, "defaults": { "password": "pw" }, "cameras": [ { "address": "%s", "id": 5200, "serial": "VLB", "name": "Bench", "media": { "codec": "h264", "width": %d, "height": %d, "fps": 25, "kbps": %d, "gop": 50, "faults": %s } } ] }' \
      "$addr" "$w" "$h" "$kbps" "$faults" >"$work/sc.json"
    ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/sc.json" --addresses "$LAB_CAMERA_ADDRS_1" \
      >"$work/sim.out" 2>&1 &
    pid=$!
    # The clip is encoded first.
    for _ in $(seq 600); do grep -q "clips encoded" "$work/sim.out" && break; sleep 0.1; done
    : >"$work/first"
    : >"$work/wall"
    for _ in $(seq "$opens"); do
      t0=$(date +%s%N)
      "$cli" --json --wait 10 snapshot VLB -o "$work/s.bmp" --password pw --seconds 60 >"$work/snap.json" 2>/dev/null
      rc=$?
      # The whole command (search included) for clients that do not report the first picture.
      if ((rc == 0)); then echo $((($(date +%s%N) - t0) / 1000000)) >>"$work/wall"; else echo none >>"$work/wall"; fi
      jq -r '.first_picture_ms // "none"' "$work/snap.json" 2>/dev/null >>"$work/first" || echo none >>"$work/first"
    done
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
    med() { grep -v none "$1" | sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "none" }'; }
    echo "${w}x$h ${kbps} kbit/s, loss $loss, reorder 0.05: first picture median $(med "$work/first") ms" \
      "($(grep -vc none "$work/first")/$opens opens with a picture; whole command median $(med "$work/wall") ms;" \
      "each: $(tr '\n' ' ' <"$work/first"))"
    LIVE_CONFIGS="$w $h $kbps" LIVE_MEDIA_FAULTS="$faults" "$here/live_desktop.sh" "$build" "$data" "$seconds" | sed 's/^/  desktop: /'
  done
done
