#!/usr/bin/env bash
# Downloads from the simulator's SD recordings in the network lab, checked frame by frame
# against what the card holds. Run through lab-run.sh (ctest does that):
#   lab_download.sh CASE <vistrel-cli> <vistrel-camsim> <data folder>
scenario=$1
export E2E_CLI=$2 E2E_SIM=$3 E2E_DATA=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../e2e/lib.sh
source "$here/../e2e/lib.sh"

REC_START=1714637700 # 2024-05-02T08:15:00Z
FPS=10
CLIP=20
rec=$work/rec

# sd_scenario FAULTS CAMERAS: cameras SD1.. with a ten-minute recording at 10 frames per second.
sd_scenario() {
  local faults=$1 count=${2:-1}
  scenario_file sd "{ \"seed\": 3, \"defaults\": { \"recordings\": [ { \"start\": $REC_START, \"end\": $((REC_START + 600)) } ],
      \"media\": { \"sd\": { \"width\": 320, \"height\": 240, \"fps\": $FPS, \"kbps\": 300, \"gop\": 10 }, \"faults\": $faults } },
    \"cameras\": [ { \"id\": 4660, \"serial\": \"SD{n}\", \"name\": \"Cam {n}\", \"count\": $count } ] }"
}

# verify ID FIRST LAST FOLDER [SWITCH]: the files hold exactly the frames of seconds FIRST..LAST
# (from second SWITCH on, those of the card's other picture size).
verify() {
  local result
  result=$("$here/verify_download.py" "$E2E_SIM" "$scenario_path" "$LAB_CAMERA_ADDRS_1" "$1" "$REC_START" "$FPS" "$CLIP" \
    "$2" "$3" "$4" ${5:+"$5"})
  local rc=$?
  if ((rc == 0)); then pass "frames of $4 match the card: $result"; else fail "frames of $4: $result"; fi
}

t() { echo $((REC_START + $1)); }
iso() { date -u -d "@$(t "$1")" +%Y-%m-%dT%H:%M:%SZ; }

download_clean() {
  scenario_path=$(sd_scenario '{}')
  start_sim "$scenario_path"
  cli --json download SD1 --from "$(iso 10)" --to "$(iso 40)" --dir "$rec"
  expect_rc "download" 0
  expect_eq "frames" "$(jq '.cameras[0].frames' "$work/out")" 310
  verify 4660 "$(t 10)" "$(t 40)" "$rec/Cam 1 (SD1)"
  # The card's calendar: one hour with minutes 15 to 25 of one day. (The day's query goes
  # first: a new client starts its record-time numbers at 1 again, and a camera takes a
  # number equal to the last one it handled as a repeat.)
  cli --json recordings SD1 --day 2024-05-02
  expect_rc "recordings of a day" 0
  expect_eq "hours" "$(jq -c '[.hours[] | [.hour, (.minutes | map(.minute) | [first, last])]]' "$work/out")" '[[8,[15,25]]]'
  cli --json recordings SD1
  expect_rc "recordings" 0
  expect_eq "days" "$(jq -c .days "$work/out")" '["2024-05-02"]'
  # Export: the MP4 holds every frame and ffmpeg decodes it without a complaint.
  cli --json export "$rec/Cam 1 (SD1)/"*.avi -o "$work/out.mp4"
  expect_rc "export" 0
  expect_eq "exported frames" "$(jq .video_frames "$work/out")" 310
  expect_eq "mp4 decodes" "$(ffmpeg -v error -i "$work/out.mp4" -f null - 2>&1 | head -c 300)" ""
  expect_eq "creation time" "$(ffprobe -v error -show_entries format_tags=creation_time -of csv=p=0 "$work/out.mp4")" \
    "2024-05-02T08:15:10.000000Z"
  # Everything is on disk: nothing is fetched again.
  cli --json download SD1 --from "$(iso 10)" --to "$(iso 40)" --dir "$rec"
  expect_rc "again" 0
  expect_eq "nothing fetched" "$(jq -r '.cameras[0].result' "$work/out")" "already downloaded"
  finish
}

download_lossy() {
  # 720p at 4 Mbit/s: a key frame of about 200 KiB spans some 170 segments, and at 5 % loss
  # hardly one copy of it arrives whole; the receiver completes it from the copies.
  FPS=25
  CLIP=50
  scenario_path=$(scenario_file sd "{ \"seed\": 3, \"defaults\": { \"ms_version\": 4,
      \"recordings\": [ { \"start\": $REC_START, \"end\": $((REC_START + 600)) } ],
      \"media\": { \"sd\": { \"width\": 1280, \"height\": 720, \"fps\": $FPS, \"kbps\": 4000, \"gop\": 25, \"clip_frames\": $CLIP },
        \"faults\": { \"out\": { \"loss\": 0.05, \"reorder\": 0.05, \"duplicate\": 0.05 }, \"in\": { \"loss\": 0.05 } } } },
    \"cameras\": [ { \"id\": 4660, \"serial\": \"SD1\", \"name\": \"Cam 1\" } ] }")
  start_sim "$scenario_path"
  cli --json download SD1 --from "$(iso 100)" --to "$(iso 105)" --dir "$rec"
  expect_rc "download at 5 % loss" 0
  expect_eq "frames" "$(jq '.cameras[0].frames' "$work/out")" 150
  expect_eq "some were sent again" "$(sim media SD1 | jq '.media.download_resent > 0')" true
  verify 4660 "$(t 100)" "$(t 105)" "$rec/Cam 1 (SD1)"
  finish
}

download_resume() {
  # The card paced to a few sub-packets per acknowledgement delayed by 2 ms, so that the range
  # takes seconds and the interruption falls inside it (unpaced, it is done in a fraction of one).
  scenario_path=$(sd_scenario '{ "in": { "delay_ms": 2 } }')
  jq '.defaults.media.sd_window = 4' "$scenario_path" >"$work/paced.json"
  scenario_path=$work/paced.json
  start_sim "$scenario_path"
  # Interrupted after some seconds of the range: the open file is closed and named.
  "$E2E_CLI" download SD1 --from "$(iso 0)" --to "$(iso 300)" --dir "$rec" >"$work/out1" 2>&1 &
  local pid=$!
  local _
  for _ in $(seq 100); do
    sleep 0.2
    [[ -n $(find "$rec" -name '*.avi' -size +100k 2>/dev/null) ]] && break
  done
  kill -INT "$pid"
  wait "$pid"
  expect_eq "interrupted exit" "$?" 1
  local files
  files=$(cd "$rec/Cam 1 (SD1)" && ls)
  expect_eq "one named file" "$(echo "$files" | grep -c '^[0-9]\{12\}-[0-9]\{12\}\.avi$')" 1
  # As an earlier version left it: in "<name>/". The camera alone has that name, so the file
  # still counts when the download goes on.
  mv "$rec/Cam 1 (SD1)" "$rec/Cam 1"
  local held_end
  held_end=$(echo "$files" | sed -n 's/^[0-9]\{12\}-\([0-9]\{12\}\)\.avi$/\1/p')
  held_end=$(date -u -d "20${held_end:0:2}-${held_end:2:2}-${held_end:4:2} ${held_end:6:2}:${held_end:8:2}:${held_end:10:2}" +%s)
  cli --json download SD1 --from "$(iso 0)" --to "$(iso 300)" --dir "$rec"
  expect_rc "resume" 0
  # The second request starts one second after what the first file holds.
  local start
  start=$(dump SD1 | jq -r '.record_time.accepted["50"][-1]' | cut -c13-20)
  expect_eq "resumed from" "$((16#$start))" "$((held_end + 1))"
  mv "$rec/Cam 1/"*.avi "$rec/Cam 1 (SD1)/"
  verify 4660 "$(t 0)" "$(t 300)" "$rec/Cam 1 (SD1)"
  finish
}

download_four() {
  scenario_path=$(sd_scenario '{}' 5)
  start_sim "$scenario_path" "$LAB_CAMERA_NS_1" "$LAB_CAMERA_ADDRS_1"
  cli --json download SD1 SD2 SD3 SD4 SD5 --from "$(iso 0)" --to "$(iso 20)" --dir "$rec"
  expect_rc "a fifth camera is refused" 2
  cli --json download SD1 SD2 SD3 SD4 --from "$(iso 0)" --to "$(iso 20)" --dir "$rec"
  expect_rc "four at once" 0
  local n
  for n in 1 2 3 4; do
    verify $((4660 + n - 1)) "$(t 0)" "$(t 20)" "$rec/Cam $n (SD$n)"
  done
  finish
}

download_split() {
  # The card changes picture size at 240: the file open then ends with 239 and the next one
  # starts with the new size, besides the splits of a 1 MiB size limit.
  scenario_path=$(sd_scenario '{}')
  jq --argjson at "$(t 240)" '.defaults.media.sd_switch = { at: $at, width: 176, height: 144 }' "$scenario_path" \
    >"$work/split.json"
  scenario_path=$work/split.json
  start_sim "$scenario_path"
  # 300 kbit/s for 60 s is about 2.2 MiB: a 1 MiB limit makes three or more files, split at key frames.
  cli --json download SD1 --from "$(iso 200)" --to "$(iso 259)" --dir "$rec" --test-max-file-mib 1
  expect_rc "download" 0
  expect_eq "three files or more" "$(jq '.cameras[0].files >= 3' "$work/out")" true
  local at switched before
  at=$(date -u -d "@$(t 240)" +%y%m%d%H%M%S)
  switched=$(cd "$rec/Cam 1 (SD1)" && ls "$at"-*.avi)
  before=$(cd "$rec/Cam 1 (SD1)" && ls | grep -- "-$(date -u -d "@$(t 239)" +%y%m%d%H%M%S).avi")
  size() { ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$rec/Cam 1 (SD1)/$1"; }
  expect_eq "size before the change" "$(size "$before")" "320,240"
  expect_eq "size after it" "$(size "$switched")" "176,144"
  verify 4660 "$(t 200)" "$(t 259)" "$rec/Cam 1 (SD1)" "$(t 240)"
  finish
}

download_mpeg4() {
  # An MPEG-4 camera: its files are MPEG-4 of its picture size, and every frame is the card's
  # own, key frames and all.
  scenario_path=$(scenario_file sd "{ \"seed\": 3, \"defaults\": { \"recordings\": [ { \"start\": $REC_START, \"end\": $((REC_START + 600)) } ],
      \"media\": { \"codec\": \"mpeg4\", \"sd\": { \"codec\": \"mpeg4\", \"width\": 352, \"height\": 288, \"fps\": $FPS, \"kbps\": 400, \"gop\": 10 } } },
    \"cameras\": [ { \"id\": 4660, \"serial\": \"SD1\", \"name\": \"Cam 1\" } ] }")
  start_sim "$scenario_path"
  cli --json download SD1 --from "$(iso 10)" --to "$(iso 40)" --dir "$rec"
  expect_rc "download" 0
  expect_eq "frames" "$(jq '.cameras[0].frames' "$work/out")" 310
  local f
  for f in "$rec/Cam 1 (SD1)"/*.avi; do
    expect_eq "ffprobe of $(basename "$f")" \
      "$(ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height -of csv=p=0 "$f")" "mpeg4,352,288"
  done
  verify 4660 "$(t 10)" "$(t 40)" "$rec/Cam 1 (SD1)"
  # Exported, it is MPEG-4 that ffmpeg decodes, every frame.
  cli --json export "$rec/Cam 1 (SD1)/"*.avi -o "$work/out.mp4"
  expect_rc "export" 0
  expect_eq "exported" "$(ffprobe -v error -select_streams v -show_entries stream=codec_name,nb_frames -of csv=p=0 "$work/out.mp4")" "mpeg4,310"
  expect_eq "mp4 decodes" "$(ffmpeg -v error -i "$work/out.mp4" -f null - 2>&1 | head -c 300)" ""
  finish
}

download_same_name() {
  # Two cameras named alike download at once: each into a folder of its own, with its own
  # frames (the second one's card holds the smaller picture, so a mix-up shows). A file of the
  # first one left in the earlier layout's "Same/" counts for neither: it may be either's.
  scenario_path=$(scenario_file sd "{ \"seed\": 3, \"defaults\": { \"recordings\": [ { \"start\": $REC_START, \"end\": $((REC_START + 600)) } ],
      \"media\": { \"sd\": { \"width\": 320, \"height\": 240, \"fps\": $FPS, \"kbps\": 300, \"gop\": 10 } } },
    \"cameras\": [ { \"id\": 4660, \"serial\": \"SD1\", \"name\": \"Same\" },
      { \"id\": 4661, \"serial\": \"SD2\", \"name\": \"Same\",
        \"media\": { \"sd\": { \"width\": 176, \"height\": 144, \"fps\": $FPS, \"kbps\": 200, \"gop\": 10 } } } ] }")
  start_sim "$scenario_path"
  cli --json download SD1 --from "$(iso 0)" --to "$(iso 5)" --dir "$rec"
  expect_rc "first camera alone" 0
  mv "$rec/Same (SD1)" "$rec/Same"
  cli --json download SD1 SD2 --from "$(iso 0)" --to "$(iso 30)" --dir "$rec"
  expect_rc "both at once" 0
  expect_eq "results" "$(jq -c '[.cameras[] | [.serial, .result, .folder]]' "$work/out")" \
    "[[\"SD1\",\"done\",\"$rec/Same (SD1)/\"],[\"SD2\",\"done\",\"$rec/Same (SD2)/\"]]"
  expect_eq "first camera's request" "$((16#$(dump SD1 | jq -r '.record_time.accepted["50"][-1]' | cut -c13-20)))" "$(t 0)"
  verify 4660 "$(t 0)" "$(t 30)" "$rec/Same (SD1)"
  verify 4661 "$(t 0)" "$(t 30)" "$rec/Same (SD2)"
  size() { ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$1" | sort -u; }
  expect_eq "first camera's size" "$(for f in "$rec/Same (SD1)"/*.avi; do size "$f"; done | sort -u)" "320,240"
  expect_eq "second camera's size" "$(for f in "$rec/Same (SD2)"/*.avi; do size "$f"; done | sort -u)" "176,144"
  finish
}

download_arguments() {
  # Times that are not on the calendar, or carry more than a time, are refused before anything
  # is sent, naming the argument; a failed export leaves the output's name alone; an input
  # that is the output is refused.
  local from to what
  while IFS='|' read -r what from to; do
    cli --json download SD1 --from "$from" --to "$to" --dir "$rec"
    expect_rc "$what" 2
    expect_eq "$what: named" "$(jq -r .error.message "$work/out" | grep -c -- "--${what%% *}")" 1
  done <<'CASES'
from 30 February|2024-02-30T00:00:00Z|2024-03-02T00:00:00Z
to 31 April|2024-04-01T00:00:00Z|2024-04-31T00:00:00Z
to with text after it|2024-05-02T08:15:00Z|2024-05-02T08:16:00Zjunk
to with words after it|2024-05-02T08:15:00Z|2024-05-02T08:16:00Z and more
from with a second time zone|2024-05-02 08:15:00 +02|2024-05-02T08:16:00Z
from in one-digit fields|2024-5-2T8:15:00Z|2024-05-02T08:16:00Z
from after to|2024-05-02T08:17:00Z|2024-05-02T08:16:00Z
CASES
  cli --json recordings SD1 --day 2023-02-29
  expect_rc "a day 2023 does not have" 2
  printf 'an earlier export' >"$work/kept.mp4"
  printf 'not an AVI file' >"$work/bad.avi"
  cli --json export "$work/bad.avi" -o "$work/kept.mp4"
  expect_rc "export of a file that is no recording" 1
  expect_eq "the output's name kept its file" "$(cat "$work/kept.mp4")" "an earlier export"
  cli --json export "$work/bad.avi" -o "$work/bad.avi"
  expect_rc "export onto its input" 1
  expect_eq "the input is whole" "$(cat "$work/bad.avi")" "not an AVI file"
  expect_eq "nothing left beside them" "$(cd "$work" && ls | grep -c '\.mp4\.\|\.avi\.')" 0
  finish
}

"$scenario"
