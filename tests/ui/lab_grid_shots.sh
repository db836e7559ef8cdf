#!/usr/bin/env bash
# Screenshots of the live view's wall for a person to look at: 1, 4, 9 and 16 panes, in English,
# Simplified and Traditional Chinese, at 100 % and 200 %, with sixteen cameras streaming (some
# with Chinese names). Run in a lab with 16 camera addresses:
#   scripts/lab/lab-run.sh --camera-addrs 16 -- tests/ui/lab_grid_shots.sh \
#       <vistrel> <vistrel-camsim> <vistrel-regsvr> <decoder module> <data dir> <output dir>
# Writes <output dir>/grid_<language>_<scale>_<panes>.png.
set -uo pipefail
client=$1 sim=$2 regsvr=$3 module=$4 data=$5 out=$6
work=$(mktemp -d)
pid=
cleanup() {
  [[ -n $pid ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out"
export VISTREL_HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$VISTREL_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
cp -r "$data/PictureSkin" "$VISTREL_HOME/"
"$regsvr" "$module" >/dev/null || { echo "registering the decoder failed"; exit 1; }

names=(Gate 大门 Garage 車庫 Lobby "Back door" 停车场 Office Hall 倉庫 Roof "Loading bay" 前台 Stairs Yard 走廊)
read -r -a addrs <<<"$LAB_CAMERA_ADDRS_1"
cams=""
for i in $(seq 0 15); do
  [[ -n $cams ]] && cams+=", "
  cams+=$(printf '{ "address": "%s", "id": %d, "serial": "VS%02d", "name": "%s", "media": { "codec": "h264", "width": 640, "height": 360, "fps": 5, "kbps": 200, "gop": 10 } }' \
    "${addrs[$i]}" $((7400 + i)) "$i" "${names[$i]}")
done
echo "{ \"seed\": 30, \"cameras\": [ $cams ] }" >"$work/scenario.json"
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl" >"$work/sim.out" 2>&1 &
pid=$!

for lang in 9:en 2052:zh_CN 1028:zh_TW; do
  for scale in 1 2; do
    {
      sed "s/^ID=.*/ID=${lang%%:*}/" "$data/Vistrel.ini"
      printf '\n[LIVEGRID]\nlayout=16\nfocus=5\n'
      for i in $(seq 0 15); do printf 'pane%d=VS%02d\n' "$i" "$i"; done
    } >"$VISTREL_HOME/Vistrel.ini"
    QT_SCALE_FACTOR=$scale xvfb-run -a -n $((200 + RANDOM % 500)) -s "-screen 0 $((1280 * scale))x$((800 * scale))x24" bash -c '
      client=$0 out=$1 tag=$2
      "$client" --close-after 600000 >/dev/null 2>&1 &
      client=$!
      for _ in $(seq 300); do win=$(xdotool search --name "^Vistrel" 2>/dev/null | head -1); [[ -n $win ]] && break; sleep 0.2; done
      sleep 12
      for layout in 16:4 9:3 4:2 1:1; do
        xdotool windowactivate "$win" 2>/dev/null; xdotool key --window "$win" "ctrl+${layout#*:}"
        sleep 3
        import -window root "$out/grid_${tag}_${layout%%:*}.png"
      done
      kill -TERM $client; wait $client' "$client" "$out" "${lang#*:}_$((scale * 100))"
  done
done
ls "$out"
