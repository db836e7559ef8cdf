#!/usr/bin/env bash
# Two-way audio end to end, in the network lab and beside a sound server of its own
# (with-pulse.sh): vistrel-cli against the simulator's cameras.
#  - camera -> file: "listen --save" writes the camera's audio, decoded, with no sound device.
#  - camera -> PC: the camera streams GSM audio of a speech sample; "listen" plays it through the
#    output device and records the output's monitor; the recording must hold the speech.
#  - PC -> camera: "talk" plays the speech into the output, captures the monitor, encodes GSM and
#    sends request 78; the simulator decodes what it gets into a WAV file, which must hold the
#    speech.
#  - a camera that refuses talk: "talk" reports it (exit 5) and sends no audio.
#   lab_audio.sh <vistrel-cli> <vistrel-camsim> <audio_compare> <speech.wav> <data dir>
set -uo pipefail
cli=$1 sim=$2 compare=$3 speech=$4 data=$5
work=$(mktemp -d)
pid=
failures=0
cleanup() {
  [[ -n $pid ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  if ((failures)); then
    echo "--- simulator"; tail -n 20 "$work/sim.out" 2>/dev/null
    echo "--- client log"; tail -n 30 "$work"/home/DebugInfo.*.log 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=2\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"

# The camera's sample: the speech, then silence, so that one listen hears it once from its start.
sox "$speech" "$work/camera.wav" pad 0 12
read -r addr1 addr2 _ <<<"$LAB_CAMERA_ADDRS_1"
cat >"$work/scenario.json" <<JSON
{ "seed": 5,
  "defaults": { "media": { "width": 320, "height": 240, "fps": 10, "kbps": 200,
                          "audio": true, "audio_wav": "$work/camera.wav" } },
  "cameras": [ { "address": "$addr1", "id": 4660, "serial": "VS0001",
                 "media": { "talk_wav": "$work/talk.wav" } },
               { "address": "$addr2", "id": 4661, "serial": "VS0002", "talk_allowed": false,
                 "media": { "talk_wav": "$work/refused.wav" } } ] }
JSON
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --control "$work/ctl.sock" \
  >"$work/sim.out" 2>&1 &
pid=$!
for _ in $(seq 100); do [[ -S $work/ctl.sock ]] && break; sleep 0.1; done
[[ -S $work/ctl.sock ]] || { fail "simulator did not start"; cat "$work/sim.out"; exit 1; }

# camera -> file: decoded by the client itself, with no sound device to be had (the second
# camera, whose sample starts when it is first listened to)
ALSA_CONFIG_PATH=/dev/null PULSE_SERVER=unix:$work/no-server \
  "$cli" --json listen VS0002 --seconds 9 --save "$work/saved.wav" >"$work/save.json" 2>"$work/save.err"
rc=$?
cat "$work/save.json"
[[ $rc == 0 ]] || fail "listen --save: exit $rc: $(cat "$work/save.err")"
saved=$(jq .saved_seconds "$work/save.json")
awk -v s="$saved" 'BEGIN { exit !(s >= 6 && s <= 10) }' || fail "listen --save: $saved s saved for --seconds 9"
if result=$("$compare" "$speech" "$work/saved.wav" 0.8 8000); then
  echo "camera -> file: $result"
else
  fail "camera -> file: the saved file does not hold the speech: $result"
fi

# camera -> PC
"$cli" --json listen VS0001 --seconds 9 --out "$work/listen.wav" >"$work/listen.json" 2>"$work/listen.err"
rc=$?
cat "$work/listen.json"
[[ $rc == 0 ]] || fail "listen: exit $rc: $(cat "$work/listen.err")"
if result=$("$compare" "$speech" "$work/listen.wav" 0.8 8000); then
  echo "camera -> PC: $result"
else
  fail "camera -> PC: the recording does not hold the speech: $result"
fi

# PC -> camera
"$cli" --json talk VS0001 --in "$speech" >"$work/talk.json" 2>"$work/talk.err"
rc=$?
cat "$work/talk.json"
[[ $rc == 0 ]] || fail "talk: exit $rc: $(cat "$work/talk.err")"
[[ $(jq -r .blocks_sent "$work/talk.json") -gt 0 ]] || fail "talk: no blocks sent"
if result=$("$compare" "$speech" "$work/talk.wav" 0.8 8000); then
  echo "PC -> camera: $result"
else
  fail "PC -> camera: what the camera decoded does not hold the speech: $result"
fi

# talk refused
"$cli" --json talk VS0002 --in "$speech" >"$work/refused.json" 2>"$work/refused.err"
rc=$?
cat "$work/refused.json"
[[ $rc == 5 ]] || fail "talk to a camera that refuses: exit $rc, want 5"
[[ ! -s $work/refused.wav ]] || fail "talk to a camera that refuses: audio was sent anyway"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
