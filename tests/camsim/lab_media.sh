#!/usr/bin/env bash
# Lab test of the simulator's live streams over real sockets: an H.264 camera by unicast and an
# MPEG-4 camera by multicast; the probe reassembles what arrives and checks it against the
# simulator's media log, and ffprobe reads the codec data it saved. Then SD downloads, clean and
# lossy, acknowledged as a client does, checked against the log and the --sd-frame tool.
#   lab_media.sh <vistrel-camsim> <media_probe> <sd_probe>
set -euo pipefail
sim=$1 probe=$2 sdprobe=$3
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT

read -r cam_addr _ <<<"$LAB_CAMERA_ADDRS_1"
read -r client_addr _ <<<"$LAB_CLIENT_ADDRS"
cat >"$work/scenario.json" <<JSON
{ "seed": 3,
  "defaults": { "sequence_ids": [11, 22], "password": "pw",
                "media": { "width": 320, "height": 240, "fps": 20, "kbps": 400 } },
  "cameras": [ { "address": "$cam_addr", "id": 701, "recordings": [ { "start": 1000000, "end": 1000010 } ],
                 "media": { "sd": { "width": 176, "height": 144, "fps": 10, "gop": 10, "kbps": 200 },
                            "sd_window": 16, "sd_resend_ms": 200 } },
               { "address": "198.18.0.200", "id": 702, "unicast_capable": false,
                 "media": { "codec": "mpeg4", "stamped": false, "width": 352, "height": 288 } } ] }
JSON
ip netns exec "$LAB_CAMERA_NS_1" ip addr add 198.18.0.200/24 dev eth0
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --control "$work/ctl.sock" \
  --media-log "$work/media.log" &
pid=$!
for _ in $(seq 100); do [[ -S $work/ctl.sock ]] && break; sleep 0.1; done
[[ -S $work/ctl.sock ]] || { echo "simulator did not start"; exit 1; }

check() { # id camera multicast codec width height
  "$probe" "$client_addr" "$2" "$1" pw 11 22 3 "$3" "$work/media.log" "$work/$1.es" | tee "$work/$1.out"
  local frames
  frames=$(sed -n 's/^video_frames=//p' "$work/$1.out")
  IFS=, read -r codec w h n < <(ffprobe -v error -count_frames -select_streams v:0 -f "$4" \
      -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 "$work/$1.es")
  echo "ffprobe: $codec ${w}x$h, $n frames"
  [[ $w == "$5" && $h == "$6" && $n == "$frames" ]] || { echo "FAIL: ffprobe disagrees"; exit 1; }
}
check 701 "$cam_addr" 0 h264 320 240
check 702 198.18.0.200 1 m4v 352 288
echo "ok: both streams arrived as logged"

# Lost, reordered and doubled segments: the frames that complete are still the ones logged.
"$sim" --send "$work/ctl.sock" media-faults 701 '{"out":{"loss":0.05,"reorder":0.05,"duplicate":0.05}}'
"$probe" "$client_addr" "$cam_addr" 701 pw 11 22 3 2 "$work/media.log" "$work/701.es"
echo "ok: a lossy stream delivers only frames as logged"

# The media faults stay on for the second download: what is lost is sent again.
for range in "1000002 1000004" "1000005 1000007"; do
  read -r from until <<<"$range"
  "$sdprobe" "$client_addr" "$cam_addr" 701 pw 11 22 "$from" "$until" "$work/media.log" | tee "$work/sd.out"
  want=$("$sim" --scenario "$work/scenario.json" --sd-frame 701 "$from" 0 | sed 's/.*"crc":"\([0-9a-f]*\)".*/\1/')
  grep -q "first_crc=$want" "$work/sd.out" || { echo "FAIL: the first frame is not --sd-frame's $want"; exit 1; }
  [[ $range == "1000002 1000004" ]] && \
    "$sim" --send "$work/ctl.sock" media-faults 701 '{"out":{"loss":0.05,"reorder":0.05,"duplicate":0.05}}' >/dev/null
done
"$sim" --send "$work/ctl.sock" media 701
echo "ok: downloads complete and as logged"
