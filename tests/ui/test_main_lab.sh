#!/usr/bin/env bash
# The main window against the camera simulator, inside the network lab (lab-run.sh):
#   test_main_lab.sh <ui_main_lab> <vistrel-camsim> <data folder> <vistrel-regsvr> <decoder module>
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
# Live pictures go through the decoder module, as in the installed program.
"$regsvr" "$module" >/dev/null || { echo "registering the decoder failed" >&2; exit 1; }
printf '[DEBUG]\nlevel=0\n[LANGUAGE]\nID=9\n[PATH]\nrecord=%s/record/\n' "$work" >"$VISTREL_HOME/Vistrel.ini"
# Servers to choose from on Repair; the third has no address.
printf '[SERVER]\nset=1\nservernum=3\n[server_1]\nname=Lab\nurl=d.example.lab\n[server_2]\nname=Second\nurl=d2.example.lab\n[server_3]\nname=Blank\n' >>"$VISTREL_HOME/Vistrel.ini"
export MAIN_RECORD_DIR=$work/record
# Ids against names: by id the list reads Zulu, Attic, Locked, Upgrade, Recorder; by name it does not.
cat >"$work/scenario.json" <<'JSON'
{ "seed": 23, "cameras": [
  { "id": 900, "serial": "MAINZ", "name": "Zulu" },
  { "id": 901, "serial": "MAINA", "name": "Attic",
    "recordings": [ { "start": "2024-05-01T10:00:00Z", "end": "2024-05-01T10:00:30Z" } ],
    "media": { "sd": { "width": 320, "height": 240, "fps": 10, "kbps": 200, "gop": 10 } } },
  { "id": 902, "serial": "MAINL", "name": "Locked", "password": "open1",
    "recordings": [ { "start": "2024-05-01T10:00:00Z", "end": "2024-05-01T10:00:10Z" } ],
    "media": { "sd": { "width": 320, "height": 240, "fps": 10, "kbps": 200, "gop": 10 } } },
  { "id": 903, "serial": "MAINU", "name": "Upgrade", "firmware_write_ms": 1000, "reboot_ms": 2000 },
  { "id": 950, "serial": "MAINNVR", "name": "Recorder", "channels": 2 } ] }
JSON
export MAIN_IMAGE_DIR=$work/images
mkdir -p "$MAIN_IMAGE_DIR"
"$sim" --make-image --version 9.9.9 --size 30000 -o "$MAIN_IMAGE_DIR/8126.Img" >/dev/null || exit 1
export MAIN_SIM=$sim MAIN_SIM_CTL=$work/ctl.sock
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$MAIN_SIM_CTL" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [[ -S $MAIN_SIM_CTL ]] && break
  sleep 0.1
done
[[ -S $MAIN_SIM_CTL ]] || { echo "simulator did not start: $(cat "$work/sim.out")" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$test_bin" || exit 1
# At 200 % on a real X server: every tab in every language once more, pictures kept as main_x2_*.
MAIN_SCREENSHOT_TAG=x2_ QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 2560x1600x24" \
  "$test_bin" --gtest_filter='MainWindowLab.EveryTabInEveryLanguageFitsItsTexts' 
