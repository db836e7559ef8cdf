#!/usr/bin/env bash
# Live view end to end in the network lab, against the simulator's test pattern (moving bands,
# chroma rising left to right, the frame number white on black at the top left):
#  - vistrel-cli snapshot of an H.264 and an MPEG-4 camera: ImageMagick reads a BMP of the
#    stream's size whose counter box is black with white digits and whose colours follow the
#    pattern, within a tolerance;
#  - the desktop client under Xvfb: a double click opens a camera that switches from 1280x720 at
#    4 Mbit/s to 1920x1080 at 8 Mbit/s mid-stream; screenshots before and after show the
#    pattern's colours in the pane, the picture goes on changing after the switch, every frame
#    the camera sent is rendered, and with the speaker on the camera's tone reaches a null sink.
#   lab_video.sh <vistrel-cli> <vistrel> <vistrel-camsim> <vistrel-regsvr> <decoder module> <data dir>
set -uo pipefail
cli=$1 client=$2 sim=$3 regsvr=$4 module=$5 data=$6
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

export VISTREL_HOME=$work/home VISTREL_WIDGET_MAP=$work/widgets
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$data/Vistrel.ini" "$VISTREL_HOME/"
"$regsvr" "$module" >/dev/null || { echo "FAIL: registering the decoder"; exit 1; }

read -r addr1 addr2 addr3 _ <<<"$LAB_CAMERA_ADDRS_1"
cat >"$work/scenario.json" <<JSON
{ "seed": 3,
  "defaults": { "password": "pw" },
  "cameras": [
    { "address": "$addr1", "id": 5101, "serial": "VL0001", "name": "H264 cam",
      "media": { "codec": "h264", "width": 1280, "height": 720, "kbps": 2000 } },
    { "address": "$addr2", "id": 5102, "serial": "VL0002", "name": "MPEG4 cam",
      "media": { "codec": "mpeg4", "width": 704, "height": 576, "kbps": 1500 } } ] }
JSON
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  >"$work/sim.out" 2>&1 &
pid=$!

# mean CROP FILE [CHANNEL]: mean 0..255 of a region (WxH+X+Y), grey or one channel.
mean() {
  local ch=${3:-Gray}
  convert "$2" -crop "$1" +repage -colorspace sRGB -channel "$ch" -separate -format '%[fx:round(mean*255)]' info:
}

# The pattern's counter box: nScale = max(2, h/60); box 7 nScale high, 24 nScale + nScale wide;
# the row band under the digits is black, the band through the last glyph row has white in it.
check_snapshot() {
  local serial=$1 want_w=$2 want_h=$3 file=$work/$1.bmp
  "$cli" --wait 30 snapshot "$serial" -o "$file" --seconds 30 --password pw >"$work/$serial.out" 2>&1
  local rc=$?
  if ((rc != 0)); then fail "$serial: snapshot exit $rc: $(cat "$work/$serial.out")"; return; fi
  local size
  size=$(identify -format '%wx%h %[channels]' "$file")
  [[ $size == "${want_w}x${want_h} srgb" ]] || fail "$serial: snapshot is '$size', want ${want_w}x${want_h}"
  local s=$((want_h / 60 < 2 ? 2 : want_h / 60))
  local box_w=$((25 * s))
  local under below glyph left right
  under=$(mean "${box_w}x$((s - 1))+0+$((6 * s))" "$file")
  glyph=$(mean "$((box_w - 2 * s))x$((s - 1))+$s+$((5 * s))" "$file")
  below=$(mean "${box_w}x$((2 * s))+0+$((8 * s))" "$file")
  # Chroma: blue grows to the right, red to the left (bottom half, clear of the overlays).
  left=$(mean "$((want_w / 8))x$((want_h / 4))+0+$((want_h / 2))" "$file" Blue)
  right=$(mean "$((want_w / 8))x$((want_h / 4))+$((want_w * 5 / 8))+$((want_h / 2))" "$file" Blue)
  echo "$serial: $size, counter box band $under, glyph row $glyph, pattern below $below, blue left $left right $right"
  ((under <= 40)) || fail "$serial: the counter box is not black ($under)"
  ((glyph >= under + 25)) || fail "$serial: no white digits in the counter box ($glyph vs $under)"
  ((below >= 50)) || fail "$serial: no pattern under the counter box ($below)"
  ((right >= left + 30)) || fail "$serial: the colours do not follow the pattern (blue $left -> $right)"
}

check_snapshot VL0001 1280 720
check_snapshot VL0002 704 576

# The desktop client next to one camera that switches from 1280x720 at 4 Mbit/s to 1920x1080 at
# 8 Mbit/s: a double click on the list's only row, then its password. Every frame the camera
# sends is rendered, on both sides of the switch.
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
cat >"$work/switch.json" <<JSON
{ "seed": 4, "defaults": { "password": "pw" },
  "cameras": [ { "address": "$addr3", "id": 5103, "serial": "VL0003", "name": "Switching",
                 "media": { "width": 1280, "height": 720, "kbps": 4000, "gop": 25, "clip_frames": 25,
                            "switch": { "after_s": 6, "width": 1920, "height": 1080, "kbps": 8000 } } } ] }
JSON
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/switch.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl" >"$work/sim.out" 2>&1 &
pid=$!
saturation() { convert "$1" -colorspace HSL -channel G -separate -format '%[fx:round(mean*1000)]' info:; }
# The camera answers searches once its clips are encoded; the client's three tries at the list
# came and went before that on a loaded machine.
for _ in $(seq 900); do grep -q "clips encoded" "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
# The simulator encodes its clips first, which takes a while on a loaded machine: the steps
# wait for the stream (and for its switch) rather than for a fixed time.
# Beside a PulseAudio server of its own: with the pane's speaker on, the camera's tone is
# recorded from the null sink's monitor.
"$(dirname "$0")/with-pulse.sh" xvfb-run -a -n $((200 + RANDOM % 500)) -s "-screen 0 1280x800x24" bash -c '
  work=$1 sim=$2
  media() { "$sim" --send "$work/ctl" media VL0003; }
  until_media() { for _ in $(seq 150); do media | jq -e "$1" >/dev/null && return; sleep 0.2; done; }
  "$0" --close-after 120000 &
  client=$!
  for _ in $(seq 300); do
    win=$(xdotool search --name "^Vistrel" 2>/dev/null | head -1)
    [[ -n $win ]] && break
    sleep 0.2
  done
  sleep 6
  eval "$(xdotool getwindowgeometry --shell "$win")"
  # The list may still be filling: the double click is tried again until the camera streams
  # (on a loaded machine the camera came into the list only after three tries).
  for _ in $(seq 8); do
    xdotool mousemove $((X + 100)) $((Y + 48)) click --repeat 2 --delay 80 1
    sleep 1; xdotool type pw; xdotool key Return
    for _ in $(seq 25); do media | jq -e ".media.streams.live.active" >/dev/null && break 2; sleep 0.2; done
  done
  until_media ".media.live_frames > 0"
  sleep 3; import -window root "$work/before.png"
  sleep 1; import -window root "$work/before2.png"
  # The speaker button of the toolbar under the picture, found by its name in the map the
  # client writes once a second.
  speaker() {
    read -r _ bx by bw bh < <(grep "^videoSpeaker " "$VISTREL_WIDGET_MAP")
    [[ -n ${bh:-} ]] || { echo "no speaker button in the widget map" >&2; return; }
    xdotool mousemove $((bx + bw / 2)) $((by + bh / 2)) click 1
  }
  speaker
  sleep 2
  timeout 3 parec -d "$VISTREL_PULSE_SOURCE" --rate=8000 --channels=1 --format=s16le --raw >"$work/speaker.raw"
  import -window root "$work/speaker.png"
  speaker
  until_media ".media.switched"
  sleep 3; import -window root "$work/after.png"
  sleep 1; import -window root "$work/after2.png"
  # The camera falls silent; what it sent is counted before the client ends the view. Its
  # counter goes on while it is silent, so it is read on both sides of the silence.
  media >"$work/media-before.json"
  "$sim" --send "$work/ctl" offline VL0003 >/dev/null
  media >"$work/media.json"
  sleep 2
  # SIGTERM closes the windows as the user would, which ends the view.
  kill -TERM $client
  wait $client
  echo $? >"$work/client.exit"' "$client" "$work" "$sim"
exit_status=$(cat "$work/client.exit" 2>/dev/null)
echo "desktop: closed by SIGTERM, exit ${exit_status:-?}"
[[ $exit_status == 0 ]] || fail "desktop: the client ended with status ${exit_status:-?} on SIGTERM"
# The simulator's tone is 440 Hz; sox estimates the frequency of what the sink played.
read -r tone rms < <(sox -t raw -r 8000 -e signed -b 16 -c 1 "$work/speaker.raw" -n stat 2>&1 |
  awk '/Rough +frequency/ { f = $3 } /RMS +amplitude/ { r = $3 } END { printf "%d %.4f\n", f, r }')
echo "desktop speaker: ${tone:-?} Hz, RMS amplitude ${rms:-?} in $(stat -c %s "$work/speaker.raw" 2>/dev/null) bytes"
((${tone:-0} >= 400 && ${tone:-0} <= 480)) || fail "desktop: the speaker did not play the camera's tone (${tone:-?} Hz)"
[[ ${rms:-0} != 0.0000 ]] || fail "desktop: the speaker played silence"
for shot in before before2 after after2; do
  [[ -f $work/$shot.png ]] || { fail "no screenshot $shot"; continue; }
  sat=$(saturation "$work/$shot.png")
  echo "desktop $shot: saturation $sat/1000"
  ((sat >= 150)) || fail "desktop $shot: the pane shows no picture (saturation $sat/1000)"
done
if [[ -f $work/after.png && -f $work/after2.png ]]; then
  diff=$(compare -metric AE -fuzz 5% "$work/after.png" "$work/after2.png" null: 2>&1)
  echo "desktop after the switch: $diff pixels changed in a second"
  ((${diff%%.*} >= 10000)) || fail "desktop: the picture stopped after the size switch ($diff)"
fi
# Frames sent against the client's own count per stage, taken when it ends the view: all that
# left the camera before it fell silent reached the pane, and the pane rendered every one.
sent_min=$(jq -r ".media.live_frames // empty" "$work/media-before.json" 2>/dev/null)
sent_max=$(jq -r ".media.live_frames // empty" "$work/media.json" 2>/dev/null)
line=$(grep -h "Live view of 5103 ended" "$work"/home/DebugInfo.*.log | tail -1)
echo "desktop: camera sent $sent_min..$sent_max video frames; client: ${line#*ended: }"
rendered=$(sed -n 's/.* \([0-9]*\) rendered.*/\1/p' <<<"$line")
received=$(sed -n 's/.*: \([0-9]*\) video frames received.*/\1/p' <<<"$line")
graphs=$(sed -n 's/.* \([0-9]*\) graphs.*/\1/p' <<<"$line")
if [[ -z $sent_min || -z $sent_max || -z $rendered ]]; then
  fail "desktop: no frame counts (camera: $(cat "$work/media.json" 2>/dev/null); client: '$line')"
else
  ((received >= sent_min && received <= sent_max)) ||
    fail "desktop: $received frames reached the pane, the camera sent $sent_min..$sent_max"
  ((rendered == received)) || fail "desktop: $rendered of $received frames rendered"
  ((graphs == 2)) || fail "desktop: $graphs graphs built, want 2 (one per size)"
fi
if [[ -n ${VISTREL_SCREENSHOT_DIR:-} ]]; then
  mkdir -p "$VISTREL_SCREENSHOT_DIR" && cp "$work"/*.png "$VISTREL_SCREENSHOT_DIR/"
fi
((failures == 0)) && echo "lab_video: all checks passed"
exit $((failures > 0))
