#!/usr/bin/env bash
# The desktop client showing one simulated camera under Xvfb, at 1280x720 4 Mbit/s and at
# 1920x1080 8 Mbit/s (25 frames/s, H.264): the client's CPU over a steady stretch, and the pane's
# own per-second figures (frames rendered and dropped, push, decode and render time per frame,
# and the time from a frame's last segment reaching the client to its pixels handed to the
# window, key frames apart). Run inside the lab:
#   scripts/lab/lab-run.sh -- bench/live/live_desktop.sh <build tree> <data folder> [seconds]
# LIVE_CONFIGS ("W H KBPS;..." ) replaces the two sizes; LIVE_MEDIA_FAULTS (a JSON object, e.g.
# {"out": {"loss": 0.01, "reorder": 0.05}}) puts the simulator's faults on the camera's segments;
# LIVE_CLIENT runs another client binary in the same way.
set -uo pipefail
build=$1 data=$2 seconds=${3:-15}
client=${LIVE_CLIENT:-$build/src/app/vistrel} sim=$build/tools/camsim/vistrel-camsim
faults=${LIVE_MEDIA_FAULTS:-{\}}
work=$(mktemp -d)
pid=
trap '[[ -n $pid ]] && kill $pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
# A runtime folder of its own: the client's one-instance lock lives there, and another client
# running on the machine would otherwise make this one end at once.
export VISTREL_HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$VISTREL_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$data/CameraType.ini" "$data/Vistrel.ini" "$VISTREL_HOME/"
sed -i 's/^level=.*/level=4/' "$VISTREL_HOME/Vistrel.ini" # the pane's per-second line
"$build/tools/regsvr/vistrel-regsvr" "$build/src/filter/libZebH264Filter.so" >/dev/null
read -r addr _ <<<"$LAB_CAMERA_ADDRS_1"
IFS=';' read -ra configs <<<"${LIVE_CONFIGS:-1280 720 4000;1920 1080 8000}"
for cfg in "${configs[@]}"; do
  read -r w h kbps <<<"$cfg"
  printf '{ "seed": 5, "defaults": { "password": "pw" }, "cameras": [ { "address": "%s", "id": 5200, "serial": "VLB", "name": "Bench", "media": { "codec": "h264", "width": %d, "height": %d, "fps": 25, "kbps": %d, "gop": 50, "faults": %s } } ] }' \
    "$addr" "$w" "$h" "$kbps" "$faults" >"$work/sc.json"
  rm -f "$VISTREL_HOME"/DebugInfo.*.log "$work/ctl"
  ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/sc.json" --addresses "$LAB_CAMERA_ADDRS_1" \
    --control "$work/ctl" >"$work/sim.out" 2>&1 &
  pid=$!
  # A display number of its own choosing: several runs on one machine race for the first free one.
  xvfb-run -a -n $((200 + RANDOM % 500)) -s "-screen 0 1280x800x24" bash -c '
    work=$1 sim=$2 seconds=$3
    media() { "$sim" --send "$work/ctl" media VLB; }
    "$0" --close-after 300000 &
    client=$!
    for _ in $(seq 300); do win=$(xdotool search --name "^Vistrel" 2>/dev/null | head -1); [[ -n $win ]] && break; sleep 0.2; done
    sleep 6
    eval "$(xdotool getwindowgeometry --shell "$win")"
    for _ in 1 2 3; do
      xdotool mousemove $((X + 100)) $((Y + 48)) click --repeat 2 --delay 80 1
      sleep 1; xdotool type pw; xdotool key Return
      for _ in $(seq 25); do media | jq -e ".media.streams.live.active" >/dev/null && break 2; sleep 0.2; done
    done
    for _ in $(seq 300); do media | jq -e ".media.live_frames > 50" >/dev/null && break; sleep 0.2; done
    sleep 3
    ticks() { awk "{ print \$14 + \$15 }" /proc/$client/stat; }
    t0=$(ticks); s0=$(date +%s.%N); f0=$(media | jq .media.live_frames); date +%H:%M:%S >"$work/from"
    sleep "$seconds"
    t1=$(ticks); s1=$(date +%s.%N); f1=$(media | jq .media.live_frames); date +%H:%M:%S >"$work/to"
    echo "$t0 $t1 $s0 $s1 $f0 $f1" >"$work/cpu"
    # Escape does not end the program; SIGTERM closes its windows as the close button does.
    kill -TERM $client
    wait $client' "$client" "$work" "$sim" "$seconds"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
  read -r t0 t1 s0 s1 f0 f1 <"$work/cpu"
  from=$(cat "$work/from") to=$(cat "$work/to")
  hz=$(getconf CLK_TCK)
  # The pane's lines inside the measured stretch.
  grep -h "Video pane:" "$VISTREL_HOME"/DebugInfo.*.log | awk -v a="$from" -v b="$to" '
    { t = substr($0, 1, 8) } t > a && t <= b {
      match($0, /segments [0-9]+/); g += substr($0, RSTART + 9, RLENGTH - 9)
      match($0, /rendered [0-9]+/); r += substr($0, RSTART + 9, RLENGTH - 9)
      match($0, /dropped [0-9]+/); d += substr($0, RSTART + 8, RLENGTH - 8)
      match($0, /push [0-9.]+/); p += substr($0, RSTART + 5, RLENGTH - 5)
      match($0, /decode [0-9.]+/); c += substr($0, RSTART + 7, RLENGTH - 7)
      match($0, /render [0-9.]+ ms/); q += substr($0, RSTART + 7, RLENGTH - 10)
      match($0, /window [0-9.]+/); v = substr($0, RSTART + 7, RLENGTH - 7) + 0
      match($0, /rendered [0-9]+/); nr = substr($0, RSTART + 9, RLENGTH - 9); lw += v * nr
      match($0, /longest [0-9.]+/); v = substr($0, RSTART + 8, RLENGTH - 8) + 0; if (v > lm) lm = v
      match($0, /longest key frame [0-9.]+/); v = substr($0, RSTART + 18, RLENGTH - 18) + 0
      if (v > 0) { kn++; ks += v; if (v > km) km = v }
      n++ }
    END {
      printf "%d s: received whole %d, rendered %d (%.1f frames/s), dropped %d, push %.2f ms/frame, decode %.2f ms/frame, render (copy, scale, hand to window) %.2f ms/frame\n", n, g, r, r / n, d, p / n, c / n, q / n
      printf "  arrival of a frame'"'"'s last segment to its pixels handed to the window: mean %.2f ms, longest %.2f ms; key frames (%d): mean %.2f ms, longest %.2f ms\n", r ? lw / r : 0, lm, kn, kn ? ks / kn : 0, km }' >"$work/stages"
  awk -v t0="$t0" -v t1="$t1" -v s0="$s0" -v s1="$s1" -v f0="$f0" -v f1="$f1" -v hz="$hz" -v cfg="${w}x$h ${kbps} kbit/s" \
    'BEGIN { printf "%s: camera sent %d frames in %.1f s; client CPU %.1f %% of one core; ", cfg, f1 - f0, s1 - s0, 100 * (t1 - t0) / hz / (s1 - s0) }'
  cat "$work/stages"
done
