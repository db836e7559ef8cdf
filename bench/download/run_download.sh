#!/usr/bin/env bash
# Download throughput from the simulator to AVI files on disk against the UDP goodput of the
# lab link with the same packet size, at 0 % and 5 % loss. Makes its own lab:
#   bench/download/run_download.sh [build folder] [seconds of recording]
# The range is 300 s by default: the start before the first data (record-time requests, each
# waiting for its reply) takes a fixed 6-10 ms, which in a 60-s range of 4 Mbit/s (about 0.07 s
# of transfer) is 10-14 % of the whole command; 60 still measures the short range.
# Prints one JSON line per measurement and the ratios, over the whole command and over the data
# phase alone, then what the simulator sent for it. The lossy camera's download is also set
# against the same units sent once over the link with the same loss (whole units counted), and
# the share of its bytes that can arrive whole at that loss. SD_WINDOW sets the simulator's send window
# (sub-packets in flight, default 64); DL_CAMERAS picks the cameras (SD1 clean, SD2 lossy);
# DL_WRAP runs each measured download under a profiler, e.g. DL_WRAP="strace -c -f"; DL_CLI lists
# the vistrel-cli binaries to measure, each in turn in the same lab (e.g. an old and a new one,
# alternating: DL_CLI="old new old new old new"). The cameras
# report record-time version 4: key frames of 720p pass 64 KiB, which only that version can
# describe.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
seconds=${2:-300}
if [[ -z ${LAB_PREFIX:-} ]]; then
  exec "$root/scripts/lab/lab-run.sh" --cameras 1 -- "$0" "$build" "$seconds"
fi

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$root/data/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=0\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"
cam_addr=${LAB_CAMERA_ADDRS_1%% *}
client_addr=${LAB_CLIENT_ADDRS%% *}
start=1714637700

# The link: 1280-byte datagrams (the simulator's segment size) from the camera namespace to the
# client for three seconds, counted at the client by udp_goodput, which moves 64 datagrams per
# system call (a sender that cannot keep up would measure itself, not the link). Measured right
# before and right after each download, and the ratios are taken against the mean of the two: the
# link's rate moves from one three-second run to the next by a fifth even on a quiet machine
# (408-575 MiB/s in one session), and a ratio is only fair against a rate measured beside it.
goodput_json() {
  "$build/bench/download/udp_goodput" recv "$client_addr" 9999 >"$work/goodput.json" &
  local receiver=$!
  sleep 0.5
  ip netns exec "$LAB_CAMERA_NS_1" "$build/bench/download/udp_goodput" send "$client_addr" 9999 3
  wait "$receiver"
  echo "{\"udp_1280\": $(cat "$work/goodput.json")}"
}

# The lossy camera's fair baseline: the same units over the same link with the same 5 % loss,
# counting only units that arrived whole, as a download's receiver can. The units are the
# recording's sub-packets (each AVI frame plus the header difference the download counted),
# gathered up to the simulator's unit size (sd_datagram_bytes, 16000) as the card sends them.
units_file() { # camera's result json -> unit sizes, one a line
  local bytes frames
  bytes=$(jq '.cameras[0].bytes' "$1")
  frames=$(jq '.cameras[0].frames' "$1")
  local f
  for f in "$(jq -r '.cameras[0].folder' "$1")"/*.avi; do # names sort in time order
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$f"
  done | awk -v bytes="$bytes" -v frames="$frames" '{ s[NR] = $1; sum += $1 }
    END { c = (bytes - sum) / frames; u = 0
          for (i = 1; i <= NR; ++i) { x = s[i] + c; if (u > 0 && u + x > 16000) { print int(u); u = 0 } u += x }
          if (u > 0) print int(u) }'
}
lossy_units_json() { # unit sizes file, loss
  "$build/bench/download/udp_goodput" recv-units "$client_addr" 9998 >"$work/units.json" &
  local receiver=$!
  sleep 0.5
  ip netns exec "$LAB_CAMERA_NS_1" "$build/bench/download/udp_goodput" send-units "$client_addr" 9998 3 "$1" "$2" 9
  wait "$receiver"
  echo "{\"units_lossy\": $(cat "$work/units.json"), \"ceiling\": $("$build/bench/download/udp_goodput" ceiling "$1" "$2")}"
}

# The live stream as the card, so that the simulator encodes one clip.
cat >"$work/sd.json" <<JSON
{ "seed": 9, "defaults": { "ms_version": 4, "recordings": [ { "start": $start, "end": $((start + seconds + 10)) } ],
    "media": { "width": 1280, "height": 720, "fps": 25, "kbps": 4000, "gop": 50,
               "sd": { "width": 1280, "height": 720, "fps": 25, "kbps": 4000, "gop": 50 }, "sd_window": ${SD_WINDOW:-64} } },
  "cameras": [ { "id": 4660, "serial": "SD1", "name": "Clean" },
               { "id": 4661, "serial": "SD2", "name": "Lossy",
                 "media": { "faults": { "out": { "loss": 0.05 }, "in": { "loss": 0.05 } } } } ] }
JSON
addrs="$cam_addr $(echo "$cam_addr" | awk -F. '{print $1"."$2"."$3"."$4+1}')"
ip netns exec "$LAB_CAMERA_NS_1" ip addr add "${addrs##* }/24" dev "$LAB_CAMERA_IF" 2>/dev/null || true
ip netns exec "$LAB_CAMERA_NS_1" "$build/tools/camsim/vistrel-camsim" --scenario "$work/sd.json" --addresses "$addrs" \
  --control "$work/ctl.sock" >"$work/sim.out" 2>&1 &
sim_pid=$! # ip netns exec runs the simulator in its own process
# Processor seconds (user and system) of the simulator so far: on a shared machine the wall-clock
# ratios move with the load, what each side spends on a download much less.
sim_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$sim_pid/stat"; }
for _ in $(seq 600); do # the clip encodes at start-up
  grep -q "clips encoded" "$work/sim.out" && break
  sleep 0.2
done
from=$(date -u -d "@$start" +%Y-%m-%dT%H:%M:%SZ)
to=$(date -u -d "@$((start + seconds - 1))" +%Y-%m-%dT%H:%M:%SZ)
# One second first, so the measured downloads do not wait for the simulator's encoder.
"$build/src/app/cli/vistrel-cli" --json download SD1 --from "$from" --to "$(date -u -d "@$((start + 1))" +%Y-%m-%dT%H:%M:%SZ)" \
  --dir "$work/warm" >/dev/null || true
for cam in ${DL_CAMERAS:-SD1 SD2}; do
for cli in ${DL_CLI:-$build/src/app/cli/vistrel-cli}; do
  goodput_json
  goodput_before=$(jq .goodput_mib_s "$work/goodput.json")
  rm -rf "$work/rec" # a download that finds its range on disk fetches nothing
  card_before=$(sim_cpu)
  ${DL_WRAP:-} /usr/bin/time -f '%U %S' -o "$work/time.txt" "$cli" --json download "$cam" --from "$from" --to "$to" \
    --dir "$work/rec" >"$work/$cam.json" || true
  card_cpu=$(echo "$(sim_cpu) $card_before" | awk '{ print $1 - $2 }')
  client_cpu=$(awk 'END { print $1 + $2 }' "$work/time.txt")
  goodput_json
  goodput=$(echo "$goodput_before $(jq .goodput_mib_s "$work/goodput.json")" | awk '{ print ($1 + $2) / 2 }')
  # The whole command includes the record-time requests before the first frame (first_data_seconds);
  # the data phase runs from the first to the last byte the command saw (sampled between batches,
  # so it can come out short).
  # The client's processor time is the whole process's (start-up and exit too).
  jq -c --arg cam "$cam" --arg cli "$cli" --argjson g "$goodput" --argjson cc "$client_cpu" --argjson sc "$card_cpu" \
    '{camera: $cam, cli: $cli, client_cpu_s: $cc, card_cpu_s: $sc, exit, seconds, first_data_seconds: .cameras[0].first_data_seconds,
      data_seconds: .cameras[0].data_seconds, bytes: .cameras[0].bytes,
      frames: .cameras[0].frames, socket_drops, mib_s: (.cameras[0].bytes / 1048576 / .seconds),
      ratio_to_udp: (.cameras[0].bytes / 1048576 / .seconds / $g),
      data_mib_s: (.cameras[0].bytes / 1048576 / .cameras[0].data_seconds),
      data_ratio_to_udp: (.cameras[0].bytes / 1048576 / .cameras[0].data_seconds / $g)}' \
    "$work/$cam.json"
  if [[ $cam == SD2 ]] && jq -e '.cameras[0].files > 0' "$work/$cam.json" >/dev/null; then
    units_file "$work/$cam.json" >"$work/units.txt"
    lossy_units_json "$work/units.txt" 0.05 | tee "$work/lossy.json" | jq -c .
    jq -c --slurpfile l "$work/lossy.json" --argjson g "$goodput" \
      '(.cameras[0].bytes / 1048576) as $mib | $l[0].units_lossy.goodput_mib_s as $u |
       {camera: "SD2", ratio_to_udp: ($mib / .seconds / $g), ratio_to_lossy_units: ($mib / .seconds / $u),
        data_ratio_to_lossy_units: ($mib / .cameras[0].data_seconds / $u),
        lossy_units_to_udp: ($u / $g), units: ($l[0].units_lossy.units)}' "$work/$cam.json"
  fi
  # What the card sent for this download: first sends, resends (after the timer or passed over)
  # and acknowledgements. Its counters add up over the downloads: the previous reading is taken off.
  "$build/tools/camsim/vistrel-camsim" --send "$work/ctl.sock" media "$cam" |
    jq -c '.media | {sent: .download_sent, resent: .download_resent, fast_resent: .download_fast_resent,
      timer_resent: .download_timer_resent, acks: .download_acks, segments}' >"$work/card.json" || true
  [[ -f $work/card_$cam.json ]] || echo '{}' >"$work/card_$cam.json"
  jq -c --arg cam "$cam" --slurpfile p "$work/card_$cam.json" \
    '{camera: $cam} + with_entries(.value -= ($p[0][.key] // 0))' "$work/card.json" || true
  cp "$work/card.json" "$work/card_$cam.json"
done
done
