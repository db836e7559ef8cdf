#!/usr/bin/env bash
# The desktop client showing simulated H.264 cameras (25 frames/s) under Xvfb, in three cases:
#   a  16 cameras 1280x720 2 Mbit/s in a 4x4 wall of a 1920x1080 window
#   b  4 cameras 1920x1080 8 Mbit/s in a 2x2 wall of a 1920x1080 window
#   c  1 camera 1920x1080 8 Mbit/s in the single pane, opened from the camera list as a user does
#      (any client, the single-pane one before the wall too)
# For each: frames the cameras sent and the client rendered and dropped, the client's CPU (cores,
# all its threads) and peak RSS over a steady stretch, and per pane the mean and longest time from
# a frame's last segment reaching the client to its pixels handed to the window. Run in a lab with
# 16 camera addresses:
#   scripts/lab/lab-run.sh --camera-addrs 16 -- bench/live/live_desktop.sh <build tree> <data folder> \
#       [--seconds N] [--cases a,b,c] [--client-build DIR]
# <build tree> gives the simulator; --client-build the client, its decoder module and regsvr (the
# same tree by default). LIVE_MEDIA_FAULTS (a JSON object, e.g. {"out": {"loss": 0.01}}) puts the
# simulator's faults on every camera's segments. For live_faults.sh: a third argument alone is
# the seconds, LIVE_CONFIGS ("W H KBPS;...") runs the single pane at those sizes instead of the
# cases, and LIVE_CLIENT names another client binary.
set -uo pipefail
build=$1 data=$2
shift 2
seconds=60 cases=a,b,c client_build=$build
while (($#)); do
  case $1 in
  [0-9]*) seconds=$1; shift ;;
  --seconds) seconds=$2; shift 2 ;;
  --cases) cases=$2; shift 2 ;;
  --client-build) client_build=$2; shift 2 ;;
  *) echo "live_desktop.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
client=${LIVE_CLIENT:-$client_build/src/app/vistrel} sim=$build/tools/camsim/vistrel-camsim
faults=${LIVE_MEDIA_FAULTS:-{\}}
work=$(mktemp -d)
pid=
trap '[[ -n $pid ]] && kill $pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
# A runtime folder of its own: the client's one-instance lock lives there, and another client
# running on the machine would otherwise make this one end at once.
export VISTREL_HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$VISTREL_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
"$client_build/tools/regsvr/vistrel-regsvr" "$client_build/src/filter/libZebH264Filter.so" >/dev/null
read -r -a addrs <<<"$LAB_CAMERA_ADDRS_1"

run_case() {
  local name=$1 count=$2 w=$3 h=$4 kbps=$5 layout=$6
  ((${#addrs[@]} >= count)) || { echo "case $name: needs $count camera addresses" >&2; return 1; }
  local cams="" i
  for ((i = 0; i < count; i++)); do
    [[ -n $cams ]] && cams+=", "
    cams+=$(printf '{ "address": "%s", "id": %d, "serial": "VLB%02d", "name": "Bench %d", "media": { "codec": "h264", "width": %d, "height": %d, "fps": 25, "kbps": %d, "gop": 50, "faults": %s } }' \
      "${addrs[$i]}" $((5200 + i)) "$i" "$i" "$w" "$h" "$kbps" "$faults")
  done
  echo "{ \"seed\": 5, \"cameras\": [ $cams ] }" >"$work/sc.json"
  {
    sed 's/^level=.*/level=4/' "$data/Vistrel.ini" # the panes' per-second lines
    if [[ $layout != single ]]; then
      printf '\n[LIVEGRID]\nlayout=%d\nfocus=0\n' "$layout"
      for ((i = 0; i < count; i++)); do printf 'pane%d=VLB%02d\n' "$i" "$i"; done
    fi
  } >"$VISTREL_HOME/Vistrel.ini"
  rm -f "$VISTREL_HOME"/DebugInfo.*.log "$work/ctl" "$work/cpu"
  ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/sc.json" --addresses "$LAB_CAMERA_ADDRS_1" \
    --control "$work/ctl" >"$work/sim.out" 2>&1 &
  pid=$!
  # A display number of its own choosing: several runs on one machine race for the first free one.
  xvfb-run -a -n $((200 + RANDOM % 500)) -s "-screen 0 1920x1080x24" bash -c '
    work=$1 sim=$2 seconds=$3 count=$4 layout=$5
    sent() { local n=0 i f; for ((i = 0; i < count; i++)); do
      f=$("$sim" --send "$work/ctl" media "$(printf VLB%02d $i)" | jq ".media.live_frames // 0"); n=$((n + f)); done; echo $n; }
    streaming() { local i; for ((i = 0; i < count; i++)); do
      "$sim" --send "$work/ctl" media "$(printf VLB%02d $i)" | jq -e ".media.live_frames > 50" >/dev/null || return 1; done; }
    "$0" --close-after 600000 &
    client=$!
    for _ in $(seq 300); do win=$(xdotool search --name "^Vistrel" 2>/dev/null | head -1); [[ -n $win ]] && break; sleep 0.2; done
    # The whole screen: the wall of a 1920x1080 window.
    xdotool windowmove "$win" 0 0 windowsize "$win" 1920 1080
    sleep 6
    if [[ $layout == single ]]; then
      # The first camera of the list, opened by a double click as a user does.
      eval "$(xdotool getwindowgeometry --shell "$win")"
      for _ in 1 2 3; do
        xdotool mousemove $((X + 100)) $((Y + 48)) click --repeat 2 --delay 80 1
        for _ in $(seq 25); do "$sim" --send "$work/ctl" media VLB00 | jq -e ".media.streams.live.active" >/dev/null && break 2; sleep 0.2; done
      done
    fi
    for _ in $(seq 300); do streaming && break; sleep 0.2; done
    sleep 3
    ticks() { awk "{ print \$14 + \$15 }" /proc/$client/stat; }
    t0=$(ticks); s0=$(date +%s.%N); f0=$(sent); date +%H:%M:%S >"$work/from"
    sleep "$seconds"
    t1=$(ticks); s1=$(date +%s.%N); f1=$(sent); date +%H:%M:%S >"$work/to"
    rss=$(awk "/^VmHWM:/ { print \$2 }" /proc/$client/status)
    echo "$t0 $t1 $s0 $s1 $f0 $f1 $rss" >"$work/cpu"
    # Escape does not end the program; SIGTERM closes its windows as the close button does.
    kill -TERM $client
    wait $client' "$client" "$work" "$sim" "$seconds" "$count" "$layout"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
  [[ -s $work/cpu ]] || { echo "case $name: the client did not run to the end" >&2; return 1; }
  local t0 t1 s0 s1 f0 f1 rss from to hz
  read -r t0 t1 s0 s1 f0 f1 rss <"$work/cpu"
  from=$(cat "$work/from") to=$(cat "$work/to") hz=$(getconf CLK_TCK)
  awk -v t0="$t0" -v t1="$t1" -v s0="$s0" -v s1="$s1" -v f0="$f0" -v f1="$f1" -v hz="$hz" -v rss="$rss" \
    -v cfg="case $name: $count x ${w}x$h ${kbps} kbit/s, layout $layout" \
    'BEGIN { printf "%s, %.1f s: cameras sent %d frames; client CPU %.2f cores; peak RSS %.0f MiB\n",
             cfg, s1 - s0, f1 - f0, (t1 - t0) / hz / (s1 - s0), rss / 1024 }'
  # The panes' per-second lines inside the measured stretch; each names its camera (a client
  # before the wall has one pane and no name in the line).
  grep -h "Video pane" "$VISTREL_HOME"/DebugInfo.*.log | awk -v a="$from" -v b="$to" '
    { t = substr($0, 1, 8) } t > a && t <= b {
      pane = match($0, /Video pane [0-9]+:/) ? substr($0, RSTART + 11, RLENGTH - 12) : "-"
      match($0, /rendered [0-9]+/); nr = substr($0, RSTART + 9, RLENGTH - 9) + 0
      match($0, /dropped [0-9]+/); nd = substr($0, RSTART + 8, RLENGTH - 8) + 0
      match($0, /window [0-9.]+/); v = substr($0, RSTART + 7, RLENGTH - 7) + 0
      match($0, /longest [0-9.]+/); l = substr($0, RSTART + 8, RLENGTH - 8) + 0
      match($0, /frames to decoder [0-9]+/); nc = substr($0, RSTART + 18, RLENGTH - 18) + 0
      match($0, /decode [0-9.]+/); C += nc * substr($0, RSTART + 7, RLENGTH - 7); NC += nc
      match($0, /render [0-9.]+ ms/); Q += nr * substr($0, RSTART + 7, RLENGTH - 10)
      r[pane] += nr; d[pane] += nd; w[pane] += v * nr; if (l > m[pane]) m[pane] = l; s[pane]++
    }
    END {
      for (p in r) {
        R += r[p]; D += d[p]; W += w[p]; if (m[p] > M) M = m[p]; if (r[p] && w[p] / r[p] > WM) WM = w[p] / r[p]
        printf "  pane %s: %d s, rendered %d, dropped %d, arrival to window mean %.2f ms, longest %.2f ms\n", p, s[p], r[p], d[p], r[p] ? w[p] / r[p] : 0, m[p]
      }
      printf "  all panes: rendered %d, dropped by the client %d; arrival to window mean %.2f ms (worst pane mean %.2f ms), longest %.2f ms; decode %.2f ms/frame, convert and present %.2f ms/frame\n", R, D, R ? W / R : 0, WM, M, NC ? C / NC : 0, R ? Q / R : 0
    }' | sort
}

if [[ -n ${LIVE_CONFIGS:-} ]]; then
  IFS=';' read -ra configs <<<"$LIVE_CONFIGS"
  for cfg in "${configs[@]}"; do
    read -r w h kbps <<<"$cfg"
    run_case "${w}x$h" 1 "$w" "$h" "$kbps" single
  done
  exit
fi
IFS=, read -ra wanted <<<"$cases"
for c in "${wanted[@]}"; do
  case $c in
  a) run_case a 16 1280 720 2000 16 ;;
  b) run_case b 4 1920 1080 8000 4 ;;
  c) run_case c 1 1920 1080 8000 single ;;
  *) echo "live_desktop.sh: unknown case $c" >&2; exit 2 ;;
  esac
done
