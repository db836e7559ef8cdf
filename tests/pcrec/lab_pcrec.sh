#!/usr/bin/env bash
# Recording on this PC, end to end: vistrel-cli record against the simulator's live streams in
# the lab; the segments are read back with ffprobe and ffmpeg and their pictures compared with
# what the simulator logged. Run through lab-run.sh:
#   lab_pcrec.sh CASE <vistrel-cli> <vistrel-camsim> <data folder>
case_name=$1
export E2E_CLI=$2 E2E_SIM=$3 E2E_DATA=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../e2e/lib.sh
source "$here/../e2e/lib.sh"
rec=$work/rec

# start_media_sim SCENARIO_JSON: the simulator with its media log, its clips encoded.
start_media_sim() {
  sim_ctl=$work/ctl.sock
  ip netns exec "$LAB_CAMERA_NS_1" "$E2E_SIM" --scenario "$(scenario_file cams "$1")" \
    --addresses "$LAB_CAMERA_ADDRS_1" --control "$sim_ctl" --media-log "$work/media.log" >"$work/sim.out" 2>&1 &
  sim_pids+=($!)
  local _
  for _ in $(seq 1200); do
    grep -q "clips encoded" "$work/sim.out" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "simulator not ready: $(cat "$work/sim.out")"
  exit 1
}

# record ARGS...: vistrel-cli record in the background; its pid in $rec_pid.
record() {
  "$E2E_CLI" --json --wait 30 record --dir "$rec" "$@" >"$work/rec.out" 2>"$work/rec.err" &
  rec_pid=$!
}
# wait_record WHAT WANT_RC
wait_record() {
  wait "$rec_pid"
  cli_rc=$?
  cp "$work/rec.out" "$work/out"
  cp "$work/rec.err" "$work/err"
  expect_rc "$1" "$2"
}
# index [CAMERA]: the folder's index as JSON.
index() { "$E2E_CLI" --json recordings --pc "$rec" "$@"; }
# segments CAMERA: the camera's segment files, oldest first.
segments() { index "$1" | jq -r --arg c "$1" --arg d "$rec" '.cameras[$c].segments[] | "\($d)/\(.path)"'; }
# wait_for FILE TEXT SECONDS
wait_for() {
  local _
  for _ in $(seq $(($3 * 10))); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no '$2' in $1 after $3 s: $(cat "$1")"
}

one_camera='{ "seed": 31, "defaults": { "media": { "fps": 10, "kbps": 300, "width": 320, "height": 240 } },
  "cameras": [ { "id": 3101, "serial": "PCREC1" } ] }'

pc_four() {
  # Four cameras, three H.264 of their own sizes and a stamped MPEG-4, each with sound, for
  # 50 s in 15-second segments.
  start_media_sim '{ "seed": 32, "defaults": { "media": { "fps": 10, "kbps": 300 } }, "cameras": [
      { "id": 3201, "serial": "PCA", "media": { "width": 320, "height": 240 } },
      { "id": 3202, "serial": "PCB", "media": { "width": 352, "height": 288 } },
      { "id": 3203, "serial": "PCC", "media": { "width": 480, "height": 272 } },
      { "id": 3204, "serial": "PCD", "media": { "codec": "mpeg4", "width": 320, "height": 176 } } ] }'
  record PCA PCB PCC PCD --segment-seconds 15 --seconds 50
  wait_record "four: record" 0
  local serial id size codec check
  for serial in PCA PCB PCC PCD; do
    case $serial in
    PCA) id=3201 size="320 240" codec=h264 ;;
    PCB) id=3202 size="352 288" codec=h264 ;;
    PCC) id=3203 size="480 272" codec=h264 ;;
    PCD) id=3204 size="320 176" codec=mpeg4 ;;
    esac
    mapfile -t files < <(segments "$serial")
    check=$(python3 "$here/check_segments.py" "$work/media.log" "$id" "${files[@]}")
    echo "four: $serial: $check"
    expect_eq "four: $serial has three segments or more" "$((${#files[@]} >= 3))" 1
    expect_eq "four: $serial: ffprobe reads every segment with its codec and size" \
      "$(jq -r '"\(.codec) \(.width) \(.height)"' <<<"$check")" "$codec $size"
    expect_eq "four: $serial: each picture the camera's, none missing across segments" \
      "$(jq '[.packets > 300, .unmatched]' -c <<<"$check")" "[true,0]"
    expect_eq "four: $serial: every segment has sound as long as its pictures (100 ms)" \
      "$(jq '[(.audio | length) == .files, .worst_av_drift <= 0.1]' -c <<<"$check")" "[true,true]"
    expect_eq "four: $serial: frames in the index are those in the files" \
      "$(index "$serial" | jq --arg c "$serial" '[.cameras[$c].segments[].frames] | add')" "$(jq .packets <<<"$check")"
    expect_eq "four: $serial: segments follow one another, no gap on a clean link" \
      "$(index "$serial" | jq --arg c "$serial" '.cameras[$c] | [(.gaps | length),
          ([.segments as $s | range(1; $s | length) | $s[.].start_ms - $s[. - 1].end_ms | fabs < 500] | all)]' -c)" "[0,true]"
  done
  # The export joins the segments: every picture of the range, read by ffprobe.
  local from to
  from=$(index PCA | jq -r '.cameras.PCA.segments[0].start')
  to=$(index PCA | jq -r '.cameras.PCA.segments[-1].end')
  cli --json export --pc "$rec" PCA --from "$from" --to "$to" -o "$work/pca.mp4"
  expect_rc "four: export" 0
  expect_eq "four: export holds every recorded picture" \
    "$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/pca.mp4")" \
    "$(index PCA | jq '[.cameras.PCA.segments[].frames] | add')"
}

pc_kill() {
  # A recorder killed in the middle of a segment: the segment keeps every picture up to its last
  # whole fragment (one per key frame, every 2 s), and the next start adopts it.
  start_media_sim "$one_camera"
  record PCREC1 --segment-seconds 60 --seconds 100
  wait_for "$rec/recordings.db" "" 30
  sleep 12
  kill -9 "$rec_pid"
  wait "$rec_pid" 2>/dev/null
  local file check frames
  file=$(find "$rec" -name '*.mp4')
  check=$(python3 "$here/check_segments.py" "$work/media.log" 3101 "$file")
  echo "kill: $check"
  frames=$(jq .packets <<<"$check")
  expect_eq "kill: the interrupted segment is read, its pictures the camera's, none missing" \
    "$(jq '[.codec, .unmatched]' -c <<<"$check")" '["h264",0]'
  expect_eq "kill: it holds its whole fragments, 20 pictures each, at least 6 s of them" \
    "$((frames % 20)) $((frames >= 60))" "0 1"
  # A restart within one key frame's time would leave a hole no longer than a fragment, which is
  # not a gap: wait past the next key frame.
  sleep 3
  record PCREC1 --segment-seconds 60 --seconds 8
  wait_record "kill: record again" 0
  expect_eq "kill: the next start adopted it (frames as read), then a gap, then a new segment" \
    "$(index PCREC1 | jq -c '.cameras.PCREC1 | [.segments[0].interrupted, .segments[0].frames, (.segments | length), (.gaps | length)]')" \
    "[true,$frames,2,1]"
  for file in $(segments PCREC1); do
    expect_eq "kill: ffprobe reads $(basename "$file")" "$(jq .unmatched <<<"$(python3 "$here/check_segments.py" "$work/media.log" 3101 "$file")")" 0
  done
}

pc_retention() {
  # 5-second segments of about 190 kB in a folder kept within 0.6 MB: the oldest go first and
  # the index agrees with the folder.
  start_media_sim "$one_camera"
  record PCREC1 --segment-seconds 5 --seconds 40 --max-gib 0.00056
  wait_record "retention: record" 0
  local made kept
  made=$(jq '.cameras[0].segments' "$work/out")
  kept=$(index PCREC1 | jq '.cameras.PCREC1.segments | length')
  echo "retention: $made segments made, $kept kept"
  expect_eq "retention: segments were deleted" "$((kept < made - 2))" 1
  expect_eq "retention: the index lists exactly the files in the folder" \
    "$(index PCREC1 | jq -r '.cameras.PCREC1.segments[].path' | sort)" \
    "$(cd "$rec" && find . -name '*.mp4' | sed 's|^\./||' | sort)"
  expect_eq "retention: what is kept is the newest, one after another, no gap" \
    "$(index PCREC1 | jq -c '.cameras.PCREC1 | [(.gaps | length),
        ([.segments as $s | range(1; $s | length) | $s[.].start_ms - $s[. - 1].end_ms | fabs < 500] | all)]')" "[0,true]"
  expect_eq "retention: the newest ends with the recording" \
    "$(($(date +%s%3N) - $(index PCREC1 | jq '.cameras.PCREC1.segments[-1].end_ms') < 3000))" 1
  expect_eq "retention: within the limit and one segment" \
    "$(($(index PCREC1 | jq '[.cameras.PCREC1.segments[].bytes] | add') < 601295 + 300000))" 1
}

pc_full() {
  # A small file system fills: the camera stops with the message, what was written stays
  # readable; room again: it goes on after a gap; the run ends with exit 1.
  mkdir -p "$rec"
  mount -t tmpfs -o size=8m pcrec "$rec" || { fail "cannot mount a tmpfs"; finish; }
  trap 'umount "$rec" 2>/dev/null; cleanup' EXIT
  head -c 6M /dev/zero >"$rec/filler"
  start_media_sim '{ "seed": 33, "defaults": { "media": { "fps": 10, "kbps": 1000, "width": 640, "height": 360 } },
      "cameras": [ { "id": 3301, "serial": "PCFULL" } ] }'
  record PCFULL --segment-seconds 5 --seconds 45 --reserve-mib 0
  wait_for "$work/rec.err" "PCFULL stopped: the disk of .* is full" 40
  local before
  mapfile -t before < <(find "$rec" -name '*.mp4' | sort)
  expect_eq "full: something was recorded first" "$((${#before[@]} > 0))" 1
  rm "$rec/filler"
  wait_for "$work/rec.err" "PCFULL goes on" 15
  wait_record "full: record ends with exit 1" 1
  expect_eq "full: the result names the full disk" "$(jq -c '.cameras[0] | [.stopped_full, .segments > 1]' "$work/out")" "[true,true]"
  local file check
  for file in "${before[@]}"; do
    check=$(python3 "$here/check_segments.py" "$work/media.log" 3301 "$file")
    expect_eq "full: $(basename "$file") written before the disk filled is whole" \
      "$(jq -c '[.packets > 0, .unmatched]' <<<"$check")" "[true,0]"
  done
  expect_eq "full: a gap in the index, and segments after it" \
    "$(index PCFULL | jq -c '.cameras.PCFULL as $c | [($c.gaps | length) >= 1, ([$c.segments[].start_ms] | max) >= $c.gaps[0].end_ms]')" "[true,true]"
  umount "$rec"
}

pc_offline() {
  # The camera's stream is lost for 6 s: the segment ends, a gap is recorded, a new segment follows.
  start_media_sim "$one_camera"
  record PCREC1 --segment-seconds 60 --seconds 25
  sleep 10
  sim media-faults PCREC1 '{ "out": { "loss": 1 } }' >/dev/null
  sleep 6
  sim media-faults PCREC1 '{}' >/dev/null
  wait_record "offline: record" 0
  expect_eq "offline: two segments with a gap of about 6 s between" \
    "$(index PCREC1 | jq -c '.cameras.PCREC1 | [(.segments | length), (.gaps | length),
        (.gaps[0].end_ms - .gaps[0].start_ms | . > 4000 and . < 9000),
        .segments[1].start_ms == .gaps[0].end_ms]')" "[2,1,true,true]"
}

"pc_$case_name"
finish
