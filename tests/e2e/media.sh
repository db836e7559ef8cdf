#!/usr/bin/env bash
# Media end to end: vistrel-cli live and download against the simulator's streams in the lab.
# Every frame the client hands to its sink is checked against the simulator's media log (frame
# number, size and CRC-32 of the whole frame as sent). Run through lab-run.sh:
#   media.sh SCENARIO <vistrel-cli> <vistrel-camsim> <data folder> [<lab_peer>]
scenario=$1
export E2E_CLI=$2 E2E_SIM=$3 E2E_DATA=$4 E2E_PEER=${5:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

# start_media_sim SCENARIO_FILE: the simulator with its media log, ready.
start_media_sim() {
  sim_ctl=$work/ctl.sock
  ip netns exec "$LAB_CAMERA_NS_1" "$E2E_SIM" --scenario "$1" --addresses "$LAB_CAMERA_ADDRS_1" \
    --control "$sim_ctl" --media-log "$work/media.log" >"$work/sim.out" 2>&1 &
  sim_pids+=($!)
  local _
  for _ in $(seq 300); do
    [[ -S $sim_ctl ]] && break
    sleep 0.1
  done
  if ! sim list >/dev/null; then
    fail "simulator did not start: $(cat "$work/sim.out")"
    exit 1
  fi
  # The clips are encoded in the background at the lowest priority, and a camera streams no
  # video before its clip is ready: on a loaded machine that took longer than a live check.
  for _ in $(seq 1200); do
    grep -q "clips encoded" "$work/sim.out" && return 0
    sleep 0.1
  done
  fail "simulator did not encode its clips in 120 s: $(cat "$work/sim.out")"
  exit 1
}

# check_frames FRAME_LOG: every frame received is one the simulator sent, byte for byte.
# Prints "received video audio unmatched".
check_frames() {
  awk '
    FNR == NR { for (i = 2; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
                sent[f["cam"] " " f["seq"] " " f["size"] " " f["crc"]] = 1; next }
    { for (i = 2; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
      n++; if (f["codec"] == 0) a++; else v++
      if (!((f["id"] " " f["seq"] " " f["size"] " " f["crc"]) in sent)) bad++ }
    END { printf "%d %d %d %d\n", n, v, a, bad }' "$work/media.log" "$1"
}

# live_check NAME CAMERA SECONDS EXT [cli options...]: live view with its frame log and saved
# stream ($work/NAME/CAMERA.EXT); sets received, video, audio, unmatched. $work/cam holds the
# camera's entry of the result with the sockets' drops.
live_check() {
  local name=$1 camera=$2 seconds=$3 ext=$4
  shift 4
  cli --json --wait 30 live "$camera" --seconds "$seconds" --save "$work/$name" --frame-log "$work/$name.frames" "$@"
  expect_rc "$name: live" 0
  jq '.cameras[0] + {dropped_frames, dropped_segments}' "$work/out" >"$work/cam"
  read -r received video audio unmatched < <(check_frames "$work/$name.frames")
  echo "$name: $received frames ($video video, $audio audio), $(jq -c '{fps, kbps, width, height, missing_frames, dropped_frames, dropped_segments}' "$work/cam")"
  expect_eq "$name: every frame is one the camera sent" "$unmatched" 0
  # The simulator encodes its clips first, which takes a while on a loaded machine: what counts
  # is that frames arrive and are right, not how many.
  if ((video < 5)); then fail "$name: only $video video frames"; fi
}

# probe FILE: "codec width height frames" as ffprobe reads an elementary stream; frames are
# counted by the parser, so a picture whose reference was lost on the way still counts.
probe() {
  ffprobe -v error -count_packets -select_streams v:0 \
    -show_entries stream=codec_name,width,height,nb_read_packets -of csv=p=0 "$1" | tr ',' ' '
}

live_h264() {
  start_media_sim "$(scenario_file h264 '{ "seed": 11, "cameras": [ { "id": 4660, "serial": "VS0001" } ] }')"
  live_check h264 VS0001 10 h264
  expect_eq "h264: picture size reported" "$(jq -c '[.codec, .width, .height, .serial]' "$work/cam")" '["H.264",1280,720,"VS0001"]'
  expect_eq "h264: ffprobe reads the saved stream" "$(probe "$work/h264/VS0001.h264")" "h264 1280 720 $video"
  expect_eq "h264: audio came along" "$((audio > 0))" 1
}

live_mpeg4() {
  # Plain MPEG-4 (0x11) by multicast, and stamped MPEG-4 (0x51) by unicast.
  start_media_sim "$(scenario_file mpeg4 '{ "seed": 12, "cameras": [
      { "id": 501, "serial": "MP4PLAIN", "unicast_capable": false,
        "media": { "codec": "mpeg4", "stamped": false, "width": 640, "height": 480, "kbps": 1000, "audio": false } },
      { "id": 502, "serial": "MP4STAMP",
        "media": { "codec": "mpeg4", "stamped": true, "width": 352, "height": 288, "kbps": 500 } } ] }')"
  live_check plain MP4PLAIN 8 m4v
  expect_eq "plain: picture size reported" "$(jq -c '[.codec, .width, .height]' "$work/cam")" '["MPEG-4",640,480]'
  expect_eq "plain: ffprobe reads the saved stream" "$(probe "$work/plain/MP4PLAIN.m4v")" "mpeg4 640 480 $video"
  expect_eq "plain: came by multicast" "$(sim media MP4PLAIN | jq -r .media.streams.live.to)" "236.5.7.21:8100"
  live_check stamped MP4STAMP 8 m4v
  expect_eq "stamped: ffprobe reads the saved stream" "$(probe "$work/stamped/MP4STAMP.m4v")" "mpeg4 352 288 $video"
}

# in_order FRAME_LOG: frame numbers strictly rising (past the wrap), each once.
in_order() {
  awk '{ split($3, kv, "="); s = kv[2] + 0; if (NR > 1) { d = (s - p + 65536) % 65536; if (d == 0 || d >= 32768) bad++ } p = s }
       END { print bad + 0 }' "$1"
}

live_faults() {
  # 5 % loss, reordering and duplication of the segments: frames go missing, none is corrupt,
  # and what arrives goes on in number order, each frame once.
  start_media_sim "$(scenario_file faults '{ "seed": 13, "cameras": [ { "id": 4661, "serial": "VSLOSS",
      "media": { "faults": { "out": { "loss": 0.05, "reorder": 0.05, "duplicate": 0.2 } } } },
      { "id": 4662, "serial": "VSREORDER", "media": { "faults": { "out": { "reorder": 0.05 } } } } ] }')"
  live_check faults VSLOSS 10 h264
  expect_eq "faults: segments were faulted" "$(($(sim media VSLOSS | jq .media.faulted_segments) > 0))" 1
  expect_eq "faults: lost frames are counted" "$(($(jq .missing_frames "$work/cam") > 0))" 1
  expect_eq "faults: in number order, repeats once" "$(in_order "$work/faults.frames")" 0
  expect_eq "faults: repeated frames were dropped" "$(($(jq .repeated_frames "$work/cam") > 0))" 1
  # Reordering alone loses nothing.
  live_check reorder VSREORDER 10 h264
  expect_eq "reorder: segments were faulted" "$(($(sim media VSREORDER | jq .media.faulted_segments) > 0))" 1
  expect_eq "reorder: nothing missing" "$(jq '.missing_frames + .late_frames' "$work/cam")" 0
  expect_eq "reorder: in number order" "$(in_order "$work/reorder.frames")" 0
}

live_unselected() {
  # Both cameras stream to the multicast group; only the watched one may reach the sink.
  start_media_sim "$(scenario_file two '{ "seed": 14, "cameras": [
      { "id": 701, "serial": "CAMA", "unicast_capable": false },
      { "id": 702, "serial": "CAMB", "unicast_capable": false } ] }')"
  # A client that dies without stopping leaves camera B streaming until its heartbeat runs out.
  timeout -s KILL 8 "$E2E_CLI" live CAMB --seconds 60 >/dev/null 2>&1
  local before
  before=$(sim media CAMB | jq .media.live_frames)
  live_check selected CAMA 6 h264
  expect_eq "unselected: camera B kept streaming" "$(($(sim media CAMB | jq .media.live_frames) > before + 50))" 1
  expect_eq "unselected: nothing of camera B reached the sink" "$(awk '$2 != "id=701"' "$work/selected.frames" | wc -l)" 0
}

live_four() {
  # Four cameras watched at once, each of its own picture size (one MPEG-4 by multicast), and
  # two channels of a recorder, which share its sender and send the same pictures. Each saved
  # stream of the four is its own camera's, byte for byte. A stream stops 25 s after its last
  # start video, so over 45 s each one streams to the end only with its heartbeat every 20 s.
  start_media_sim "$(scenario_file four '{ "seed": 18,
      "defaults": { "media": { "fps": 10, "kbps": 300, "heartbeat_timeout_s": 25, "audio": false } },
      "cameras": [
        { "id": 801, "serial": "FOUR1", "media": { "width": 320, "height": 240 } },
        { "id": 802, "serial": "FOUR2", "media": { "width": 352, "height": 288 } },
        { "id": 803, "serial": "FOUR3", "unicast_capable": false,
          "media": { "codec": "mpeg4", "width": 320, "height": 176 } },
        { "id": 804, "serial": "FOUR4", "media": { "width": 480, "height": 272 } },
        { "id": 805, "serial": "FOURNVR", "channels": 2, "media": { "width": 160, "height": 112 } } ] }')"
  cli --json --wait 30 live FOUR1 FOUR2 FOUR3 FOUR4 FOURNVR-1 FOURNVR-2 --seconds 45 --save "$work/four" \
    --frame-log "$work/four.frames"
  expect_rc "four: live" 0
  expect_eq "four: one entry per camera, each streamed" \
    "$(jq -c '[.ok, [.cameras[] | [.serial, .ok, .codec, .width, .height]]]' "$work/out")" \
    "$(printf '%s' '[true,[["FOUR1",true,"H.264",320,240],["FOUR2",true,"H.264",352,288],' \
      '["FOUR3",true,"MPEG-4",320,176],["FOUR4",true,"H.264",480,272],' \
      '["FOURNVR-1",true,"H.264",160,112],["FOURNVR-2",true,"H.264",160,112]]]')"
  read -r received video audio unmatched < <(check_frames "$work/four.frames")
  echo "four: $received frames; $(jq -c '[.cameras[] | {serial, frames, missing_frames, late_frames, repeated_frames}]' "$work/out")"
  # The frame log names the camera each frame reached the sink for: a channel's frame under
  # the other channel's id would not be one the simulator sent.
  expect_eq "four: every frame is one its camera sent" "$unmatched" 0
  local n serial ext frames bad
  for n in 1 2 3 4; do
    serial=FOUR$n ext=h264
    [[ $n == 3 ]] && ext=m4v
    read -r frames bad < <(python3 "$here/check_saved.py" "$work/media.log" "$work/four.frames" "$work/four/$serial.$ext" $((800 + n)))
    expect_eq "four: $serial saved its own frames, byte for byte" "$((frames > 100)) $bad" "1 0"
  done
  # Each channel of the recorder numbers its own frames, as recorders do: in the simulator's
  # log the frame numbers of one channel follow one another.
  local id
  for id in 80501 80502; do
    expect_eq "four: channel $id counts its own frames" "$(awk -v id="$id" '
      $0 ~ "^media cam=" id " stream=(live|audio) " {
        match($0, / seq=[0-9]+/); s = substr($0, RSTART + 5, RLENGTH - 5) + 0
        if (n++ && s != (last + 1) % 65536) bad++
        last = s
      }
      END { print (n > 100) + 0, bad + 0 }' "$work/media.log")" "1 0"
  done
  for serial in FOUR1 FOUR2 FOUR3 FOUR4 FOURNVR-1 FOURNVR-2; do
    expect_eq "four: $serial started, then kept by heartbeats" "$(($(dump "$serial" | jq .video.starts) >= 3))" 1
    expect_eq "four: $serial never timed out" "$(sim media "$serial" | jq .media.heartbeat_stops)" 0
    expect_eq "four: $serial stopped at the end" "$(dump "$serial" | jq .video.stops)" 1
  done
}

live_encrypted() {
  start_media_sim "$(scenario_file enc '{ "seed": 15, "cameras": [ { "id": 4670, "serial": "VSENC",
      "cipher": "encrypted", "password": "s3cret", "encrypt_version": 1 } ] }')"
  cli --json live VSENC --seconds 3 --password wrong
  expect_rc "encrypted: wrong password" 4
  live_check encrypted VSENC 8 h264 --password s3cret
}

# udp_rcvbuf_errors: datagrams the kernel of this namespace dropped for a full receive buffer.
udp_rcvbuf_errors() {
  awk '/^Udp:/ { if (!n++) { for (i = 1; i <= NF; i++) col[$i] = i } else print $col["RcvbufErrors"] }' /proc/net/snmp
}

live_spray() {
  # A second host sprays the client's media port from 10,000 source ports (one-byte frames, and
  # segments of frames that never end) while the camera streams: every frame of the camera still
  # arrives, and the client's memory stays bounded.
  start_media_sim "$(scenario_file spray '{ "seed": 17, "cameras": [ { "id": 4690, "serial": "VSSPRAY" } ] }')"
  local client sprayer
  read -r client _ <<<"$LAB_CLIENT_ADDRS"
  read -r sprayer _ <<<"$LAB_CAMERA_ADDRS_2"
  ip netns exec "$LAB_CAMERA_NS_2" nice "$E2E_PEER" spray "$client" 8103 10000 "$sprayer" >"$work/spray.out" 2>&1 &
  sim_pids+=($!)
  printf '#!/bin/sh\nexec /usr/bin/time -v -o %s %s "$@"\n' "$work/time.txt" "$E2E_CLI" >"$work/timed-cli"
  chmod +x "$work/timed-cli"
  local cli_bin=$E2E_CLI rcvbuf_before
  rcvbuf_before=$(udp_rcvbuf_errors)
  E2E_CLI=$work/timed-cli
  live_check spray VSSPRAY 15 h264
  E2E_CLI=$cli_bin
  local rss cpu
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  cpu=$(awk -F': ' '/Percent of CPU/ { print $2 }' "$work/time.txt")
  echo "spray: client peak RSS ${rss} KiB, CPU ${cpu} of one core, $(($(udp_rcvbuf_errors) - rcvbuf_before)) datagrams dropped by the kernel for a full buffer; $(uptime)"
  expect_eq "spray: no frame of the camera missing" "$(jq .missing_frames "$work/cam")" 0
  expect_eq "spray: peak RSS under 160 MiB" "$((rss < 160 * 1024))" 1
}

sd_download() {
  # Several sub-packets per download datagram, one acknowledgement each.
  start_media_sim "$(scenario_file sd '{ "seed": 16, "cameras": [ { "id": 4680, "serial": "VSSD", "ms_version": 4,
      "recordings": [ { "start": "2024-05-01T10:00:00Z", "end": "2024-05-01T10:01:00Z" } ],
      "media": { "sd_datagram_bytes": 12000 } } ] }')"
  mkdir -p "$work/rec"
  cli --json download VSSD --from 2024-05-01T10:00:10Z --to 2024-05-01T10:00:20Z --dir "$work/rec" --idle-timeout 20
  expect_rc "download" 0
  local m
  m=$(sim media VSSD | jq -c .media)
  echo "download: $m"
  local sent acked acks
  sent=$(jq .download_sent <<<"$m")
  acked=$(jq .download_acked <<<"$m")
  acks=$(jq .download_acks <<<"$m")
  expect_eq "download: every sub-packet acknowledged" "$acked" "$sent"
  expect_eq "download: fewer acknowledgements than sub-packets" "$((acks > 0 && acks < sent))" 1
}

"$scenario"
finish
