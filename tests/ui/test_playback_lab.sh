#!/usr/bin/env bash
# The playback pane in the main window against the camera simulator, inside the network lab
# (lab-run.sh):
#   test_playback_lab.sh <ui_playback_lab> <vistrel-camsim> <data folder> <vistrel-regsvr> <decoder module>
set -uo pipefail
test_bin=$1 sim=$2 data=$3 regsvr=$4 module=$5
work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
cp -r "$data/PictureSkin" "$VISTREL_HOME/"
# The played-back pictures go through the decoder module like live ones.
"$regsvr" "$module" >/dev/null || { echo "registering the decoder failed" >&2; exit 1; }
printf '[DEBUG]\nlevel=0\n[LANGUAGE]\nID=9\n[PATH]\nrecord=%s/record/\n' "$work" >"$VISTREL_HOME/Vistrel.ini"
# Two days on the card: a minute and a half and an event on the first, ten seconds on the second.
cat >"$work/scenario.json" <<'JSON'
{ "seed": 31, "cameras": [
  { "id": 910, "serial": "PLAYB", "name": "Player",
    "recordings": [ { "start": "2024-05-01T10:00:00Z", "end": "2024-05-01T10:01:30Z" },
                    { "start": "2024-05-01T11:30:00Z", "end": "2024-05-01T11:30:10Z", "event": true },
                    { "start": "2024-05-02T08:00:00Z", "end": "2024-05-02T08:00:10Z" } ],
    "media": { "sd": { "width": 320, "height": 240, "fps": 10, "kbps": 200, "gop": 10 } } } ] }
JSON
export PLAY_SIM=$sim PLAY_SIM_CTL=$work/ctl.sock
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$PLAY_SIM_CTL" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [[ -S $PLAY_SIM_CTL ]] && break
  sleep 0.1
done
[[ -S $PLAY_SIM_CTL ]] || { echo "simulator did not start: $(cat "$work/sim.out")" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$test_bin"
