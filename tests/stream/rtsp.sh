#!/usr/bin/env bash
# RTSP streams out, end to end in the lab: vistrel-cli serve in the client namespace, the
# simulator's cameras beside it, and ffprobe, ffmpeg and gst-launch-1.0 as the RTSP clients. What
# they read is checked against the simulator's media log. The server listens on 127.0.0.1 of the
# client namespace, or on the lab address 198.18.0.1. The desktop scenario runs the desktop
# client (offscreen) with sharing switched on in its configuration. Run through lab-run.sh:
#   rtsp.sh SCENARIO <vistrel-cli> <vistrel-camsim> <data folder> [<vistrel>]
scenario=$1
export E2E_CLI=$2 E2E_SIM=$3 E2E_DATA=$4
desktop_bin=${5:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../e2e/lib.sh
source "$here/../e2e/lib.sh"

port=8554
url=rtsp://127.0.0.1:$port

# start_media_sim JSON: the simulator with its media log, its clips encoded.
# Every RTSP client runs under "timeout -k": ffmpeg takes a first SIGTERM only between packets,
# and one that waits on a silent connection would outlast the test.
start_media_sim() {
  sim_ctl=$work/ctl.sock
  ip netns exec "$LAB_CAMERA_NS_1" "$E2E_SIM" --scenario "$(scenario_file sim "$1")" --addresses "$LAB_CAMERA_ADDRS_1" \
    --control "$sim_ctl" --media-log "$work/media.log" >"$work/sim.out" 2>&1 &
  sim_pids+=($!)
  local _
  for _ in $(seq 1200); do
    grep -q "clips encoded" "$work/sim.out" 2>/dev/null && return 0
    kill -0 "${sim_pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  fail "simulator did not encode its clips: $(cat "$work/sim.out")"
  exit 1
}

# serve ARGS...: the bridge in the background ($serve_pid), its events in $work/serve.out; waits
# until it offers $1 (a serial) unless that is "-".
serve() {
  local wait_for=$1
  shift
  "$E2E_CLI" --json serve --rtsp-port "$port" "$@" >"$work/serve.out" 2>"$work/serve.err" &
  serve_pid=$!
  sim_pids+=("$serve_pid")
  [[ $wait_for == - ]] && return 0
  wait_event offered "$wait_for" 30 || { fail "serve did not offer $wait_for: $(cat "$work/serve.err")"; exit 1; }
}

# wait_event EVENT SERIAL SECONDS [COUNT]: until serve told EVENT for SERIAL COUNT times.
wait_event() {
  local _
  for _ in $(seq $(($3 * 10))); do
    (($(events "$1" "$2") >= ${4:-1})) && return 0
    sleep 0.1
  done
  return 1
}
events() { jq -s --arg e "$1" --arg s "$2" '[.[] | select(.event == $e and .serial == $s)] | length' "$work/serve.out"; }

# probe URL [ffprobe options]: "codec size" of the video, "codec rate" of the audio.
probe() {
  local u=$1
  shift
  timeout -k 5 30 ffprobe -v error "$@" -show_entries stream=codec_type,codec_name,width,height,r_frame_rate,sample_rate \
    -of json "$u" | jq -r '.streams[] | if .codec_type == "video" then "\(.codec_name) \(.width)x\(.height)"
      else "\(.codec_name) \(.sample_rate)" end' | sort | paste -sd ';'
}

# copy NAME URL SECONDS EXT [ffmpeg input options]: `ffmpeg -c copy` of the video into
# $work/NAME.EXT with the unit sizes in $work/NAME.hash; sets units, unmatched, in_order, backwards
# (units that repeat a frame or come after a newer one) and fps
# (units per second of their times: the camera's frame times).
copy() {
  local name=$1 u=$2 seconds=$3 ext=$4
  shift 4
  # The elementary stream's muxer wants rising times: each unit gets its number as its time.
  timeout -k 5 $((seconds + 30)) ffmpeg -v error "$@" -t "$seconds" -i "$u" -map 0:v -c copy -f framehash -hash crc32 \
    "$work/$name.hash" -map 0:v -c copy -bsf:v setts=pts=N:dts=N -f "$ext" "$work/$name.$ext" 2>"$work/$name.err"
  read -r units unmatched in_order _ backwards < <(python3 "$here/check_rtsp.py" units "$work/media.log" "$work/$name.hash" \
    "$work/$name.$ext" "$camera_id")
  fps=$(awk -F, '!/^#/ { if (n++ == 0) first = $3; last = $3 } END { if (n > 1) printf "%.0f", (n - 1) * 90000 / (last - first) }' \
    "$work/$name.hash")
  echo "$name: $units access units, $unmatched unmatched, in order: $in_order, $backwards backwards, $fps frames/s"
}

h264() {
  # A known speech sample as the camera's audio, 2.04 s (34 frames of 60 ms) looped.
  espeak-ng -w "$work/s.wav" "one two three four five six" 2>/dev/null
  sox "$work/s.wav" -r 8000 -c 1 -b 16 "$work/speech.wav" trim 0 16320s pad 0 16320s trim 0 16320s
  camera_id=4660
  start_media_sim '{ "seed": 11, "cameras": [ { "id": 4660, "serial": "VS0001",
      "media": { "audio_wav": "'"$work/speech.wav"'" } } ] }'
  serve VS0001 --session-timeout 5
  # Two clients at once, first thing (before the first heartbeat): the camera streams once for both.
  gst-launch-1.0 rtspsrc location="$url/VS0001" protocols=udp ! rtph264depay ! \
    fakesink silent=false -v >"$work/gst.out" 2>&1 &
  local gst=$!
  sim_pids+=("$gst")
  copy tcp "$url/VS0001" 10 h264 -rtsp_transport tcp
  expect_eq "ffmpeg -c copy: every access unit one the camera sent, in order, none missing" \
    "$((units >= 200)) $unmatched $in_order" "1 0 1"
  expect_eq "at the camera's frame rate" "$fps" 25
  local gst_frames
  gst_frames=$(grep -c 'chain' "$work/gst.out")
  echo "gst-launch rtspsrc meanwhile: $gst_frames buffers"
  expect_eq "a second client played at the same time" "$((gst_frames > 100))" 1
  # The SDP names the camera's profile and level as its sequence parameter set has them: a client
  # that finds none must take the stream for Baseline.
  local fmtp
  fmtp=$(timeout -k 5 30 ffprobe -v debug -rtsp_transport tcp "$url/VS0001" 2>&1 | grep -a -m1 '^a=fmtp:96 ')
  echo "SDP: $fmtp"
  expect_eq "the SDP's profile-level-id is the camera's" "$(python3 "$here/check_rtsp.py" sdp "$fmtp")" same
  expect_eq "the camera was asked for its stream once" "$(dump VS0001 | jq .video.starts)" 1
  # The playing client's stream threads (video and audio) run as batch threads (policy 3).
  local policies
  policies=$(for t in /proc/"$serve_pid"/task/*; do
    grep -qsx '[av]src:src' "$t/comm" && awk '{ print $41 }' "$t/stat"
  done | sort -u | paste -sd ' ')
  expect_eq "the streams' threads are batch threads" "$policies" 3
  expect_eq "probe over TCP" "$(probe "$url/VS0001" -rtsp_transport tcp)" "h264 1280x720;pcm_mulaw 8000"
  expect_eq "probe over UDP" "$(probe "$url/VS0001" -rtsp_transport udp)" "h264 1280x720;pcm_mulaw 8000"
  # Audio: the speech sample, through GSM and mu-law.
  timeout -k 5 30 ffmpeg -v error -rtsp_transport tcp -i "$url/VS0001" -t 6 -map 0:a -c:a pcm_s16le "$work/rx.wav"
  local corr lag
  read -r corr lag < <(python3 "$here/check_rtsp.py" audio "$work/speech.wav" "$work/rx.wav")
  echo "audio: correlation $corr with the source, at $lag ms of its 2040 ms loop"
  expect_eq "audio is the camera's speech" "$(jq -n "$corr > 0.8")" true
  # A client that vanishes without TEARDOWN goes with its session's time-out (5 s here).
  kill -KILL "$gst" 2>/dev/null
  wait "$gst" 2>/dev/null
  wait_event stream_stopped VS0001 15 || true
  expect_eq "a vanished client is dropped, the stream let go" "$(events stream_stopped VS0001)" 1
  # SIGTERM ends the sessions: a playing client sees the end of the stream and stops by itself.
  timeout -k 5 40 gst-launch-1.0 rtspsrc location="$url/VS0001" ! rtph264depay ! fakesink >"$work/gst2.out" 2>&1 &
  gst=$!
  wait_event playing VS0001 20 $(($(events playing VS0001) + 1))
  sleep 1
  kill -TERM "$serve_pid"
  wait "$serve_pid"
  expect_eq "serve ends cleanly on SIGTERM" "$?" 0
  local t0=$SECONDS
  wait "$gst"
  expect_eq "the playing client saw the end of the stream" "$(grep -c 'Got EOS' "$work/gst2.out") $((SECONDS - t0 < 10))" "1 1"
}

mpeg4() {
  # An MPEG-4 camera, and a recorder's channel; --camera offers these two only.
  camera_id=502
  start_media_sim '{ "seed": 12, "cameras": [ { "id": 502, "serial": "MP4STAMP",
      "media": { "codec": "mpeg4", "width": 640, "height": 480, "kbps": 800, "audio": false } },
      { "id": 503, "serial": "OTHER" },
      { "id": 504, "serial": "NVR", "channels": 2, "media": { "width": 352, "height": 288, "kbps": 300 } } ] }'
  serve MP4STAMP --camera MP4STAMP NVR-2
  expect_eq "probe" "$(probe "$url/MP4STAMP" -rtsp_transport tcp)" "mpeg4 640x480"
  copy m4v "$url/MP4STAMP" 5 m4v -rtsp_transport tcp
  expect_eq "every access unit one the camera sent, in order" "$((units >= 100)) $unmatched $in_order" "1 0 1"
  wait_event offered NVR-2 20
  expect_eq "a recorder's channel at its own serial" "$(probe "$url/NVR-2" -rtsp_transport tcp)" "h264 352x288;pcm_mulaw 8000"
  expect_eq "only the cameras asked for are offered" "$(jq -sc '[.[] | select(.event == "offered") | .serial] | sort' "$work/serve.out")" '["MP4STAMP","NVR-2"]'
}

auth() {
  camera_id=4660
  start_media_sim '{ "seed": 11, "cameras": [ { "id": 4660, "serial": "VS0001", "media": { "audio": false } } ] }'
  local lab_addr
  read -r lab_addr _ <<<"$LAB_CLIENT_ADDRS"
  cli serve --bind "$lab_addr" --rtsp-port "$port" --seconds 5
  expect_rc "a lab address without an account" 2
  expect_eq "says why" "$(grep -c 'password-file' "$work/err")" 1
  printf 'Sesam-42\n' >"$work/rtsp.pw"
  serve VS0001 --bind "$lab_addr" --user viewer --password-file "$work/rtsp.pw"
  local u=rtsp://$lab_addr:$port/VS0001
  timeout -k 5 20 ffprobe -v error "$u" >"$work/none.out" 2>&1
  expect_eq "no credentials: 401" "$(grep -q '401' "$work/none.out" && echo 401)" 401
  timeout -k 5 20 ffprobe -v error "rtsp://viewer:Wr0ng-pw@$lab_addr:$port/VS0001" >"$work/wrong.out" 2>&1
  expect_eq "wrong credentials: 401" "$(grep -q '401' "$work/wrong.out" && echo 401)" 401
  expect_eq "refusal told with the user" "$(jq -sc '[.[] | select(.event == "auth_failed") | .user] | unique' "$work/serve.out")" '["viewer"]'
  expect_eq "no camera stream for refused clients" "$(events stream_started VS0001)" 0
  expect_eq "right credentials play" "$(probe "rtsp://viewer:Sesam-42@$lab_addr:$port/VS0001")" "h264 1280x720"
  kill -INT "$serve_pid"
  wait "$serve_pid"
  expect_eq "the wrong password is nowhere in what serve wrote" \
    "$(cat "$work/serve.out" "$work/serve.err" "$VISTREL_HOME"/DebugInfo.*.log | grep -c 'Wr0ng')" 0
}

offline() {
  camera_id=4660
  start_media_sim '{ "seed": 11, "cameras": [ { "id": 4660, "serial": "VS0001", "media": { "audio": false } } ] }'
  serve VS0001
  timeout -k 5 90 ffmpeg -v error -rtsp_transport tcp -i "$url/VS0001" -map 0:v -c copy -f null - 2>"$work/off.err" &
  local reader=$!
  wait_event playing VS0001 20
  sleep 2
  sim offline VS0001 >/dev/null
  local t0=$SECONDS
  wait "$reader"
  local took=$((SECONDS - t0))
  echo "offline: the reader ended ${took} s after the camera went silent"
  expect_eq "the reader saw the end of the stream within the presence time-out" "$((took <= 35))" 1
  expect_eq "the camera was reported lost" "$(events lost VS0001)" 1
  sim online VS0001 >/dev/null
  wait_event offered VS0001 40 2 || true
  expect_eq "back: offered again" "$(events offered VS0001)" 2
  expect_eq "back: a new client plays" "$(probe "$url/VS0001" -rtsp_transport tcp)" "h264 1280x720"
}

faults() {
  camera_id=4661
  # A small picture: a key frame of a few segments still arrives whole now and then.
  start_media_sim '{ "seed": 13, "cameras": [ { "id": 4661, "serial": "VSLOSS", "media": { "audio": false,
      "width": 320, "height": 240, "kbps": 300,
      "faults": { "out": { "loss": 0.05, "reorder": 0.05, "duplicate": 0.05 } } } } ] }'
  serve VSLOSS
  copy lossy "$url/VSLOSS" 10 h264 -rtsp_transport tcp
  expect_eq "segments were faulted" "$(($(sim media VSLOSS | jq .media.faulted_segments) > 0))" 1
  expect_eq "5 % loss: every access unit read is one the camera sent, none twice or after a newer one" \
    "$((units >= 50)) $unmatched $backwards" "1 0 0"
}

stalled() {
  # A client that stops reading (its TCP window full, the server's backlog for it growing) holds
  # up no one else: another camera's client, and another client of its own camera, read on at
  # the camera's rate.
  camera_id=4663
  start_media_sim '{ "seed": 14, "cameras": [ { "id": 4662, "serial": "VSSTUCK", "media": { "audio": false, "kbps": 4000 } },
      { "id": 4663, "serial": "VSREAD", "media": { "audio": false } } ] }'
  serve VSSTUCK
  wait_event offered VSREAD 30
  # Its output goes into a pipe nobody empties, and it is stopped once it plays.
  timeout -k 5 120 ffmpeg -v error -rtsp_transport tcp -i "$url/VSSTUCK" -map 0:v -c copy -f h264 - 2>/dev/null | sleep 120 &
  sim_pids+=($!)
  wait_event playing VSSTUCK 20
  sleep 1
  local stuck
  stuck=$(pgrep -f "^ffmpeg .*$url/VSSTUCK" | head -1)
  kill -STOP "$stuck"
  copy reader "$url/VSREAD" 15 h264 -rtsp_transport tcp
  expect_eq "beside a stopped client, another camera's client reads every unit, in order" \
    "$((units >= 300)) $unmatched $in_order" "1 0 1"
  # Another client of the stopped one's camera, which streams once for both.
  camera_id=4662
  copy same "$url/VSSTUCK" 15 h264 -rtsp_transport tcp
  kill -CONT "$stuck"
  kill "$stuck"
  expect_eq "beside a stopped client, the same camera's other client reads every unit, in order" \
    "$((units >= 300)) $unmatched $in_order" "1 0 1"
}

desktop() {
  camera_id=4660
  start_media_sim '{ "seed": 11, "cameras": [ { "id": 4660, "serial": "VS0001", "media": { "audio": false } } ] }'
  local lab_addr
  read -r lab_addr _ <<<"$LAB_CLIENT_ADDRS"
  cp -r "$E2E_DATA/PictureSkin" "$VISTREL_HOME/"
  # The account as the client keeps it: the password's digest hash only.
  cat >>"$VISTREL_HOME/Vistrel.ini" <<INI
[RTSPSHARE]
enabled=1
port=$port
address=$lab_addr
user=viewer
password_hash=$(printf 'viewer:Vistrel:Sesam-42' | md5sum | cut -d' ' -f1)
INI
  QT_QPA_PLATFORM=offscreen "$desktop_bin" >"$work/desktop.out" 2>&1 &
  local client=$!
  sim_pids+=("$client")
  local u=rtsp://viewer:Sesam-42@$lab_addr:$port/VS0001 got= _
  # Until the client has found the camera and offers it.
  for _ in $(seq 30); do
    got=$(probe "$u" -rtsp_transport tcp)
    [[ -n $got ]] && break
    kill -0 "$client" 2>/dev/null || break
    sleep 1
  done
  expect_eq "the desktop client shares the camera: ffprobe reads it" "$got" "h264 1280x720"
  timeout -k 5 20 ffprobe -v error "rtsp://$lab_addr:$port/VS0001" >"$work/none.out" 2>&1
  expect_eq "without credentials: 401" "$(grep -q '401' "$work/none.out" && echo 401)" 401
  expect_eq "the client runs on" "$(kill -0 "$client" 2>/dev/null && echo yes)" yes
}

"$scenario"
finish
