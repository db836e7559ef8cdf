#!/usr/bin/env bash
# The configuration pages against the camera simulator, inside the network lab (lab-run.sh):
#   lab_pages.sh <ui_pages_lab> <vistrel-camsim> <data folder>
set -uo pipefail
test_bin=$1 sim=$2 data=$3
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
printf '[DEBUG]\nlevel=0\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"
cat >"$work/scenario.json" <<'JSON'
{ "seed": 19, "cameras": [
  { "id": 700, "serial": "PAGES1", "name": "Porch", "wifi": true, "wifi_ssid": "labnet", "wifi_link": "wireless",
    "wifi_speed": 540, "wifi_quality": 70, "wifi_survey": [ { "ssid": "labnet", "channel": 6, "signal": 72 } ] },
  { "id": 701, "serial": "PAGES2", "name": "Silent" },
  { "id": 702, "serial": "PAGES3", "name": "Shed", "sensor_id": 8, "sensor_regs": "010000012880",
    "video_report": [65548828, 1, 0, 0], "capability": { "flags": 65536 } },
  { "id": 800, "serial": "PAGESNVR", "name": "Recorder", "channels": 1 } ] }
JSON
export PAGES_SIM=$sim PAGES_SIM_CTL=$work/ctl.sock
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$PAGES_SIM_CTL" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [[ -S $PAGES_SIM_CTL ]] && break
  sleep 0.1
done
[[ -S $PAGES_SIM_CTL ]] || { echo "simulator did not start: $(cat "$work/sim.out")" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$test_bin"
