#!/usr/bin/env bash
# RTSP streams out: latency and cost of vistrel-cli serve. Run inside the lab:
#   scripts/lab/lab-run.sh -- bench/rtsp/rtsp_bench.sh <build tree> <data folder> [seconds] [cameras]
# 1. One camera, 1280x720 25 frames/s H.264 at 2 Mbit/s, one reader (gst-launch-1.0 rtspsrc with
#    no jitter buffer delay): for each frame, the time from the simulator's send (its media log
#    line, written just before the send) to the reader's receipt, p50 and p95; serve's CPU meanwhile
#    and, before, with no stream at all (its search and presence work).
# 2. CAMERAS cameras alike (default 16), each read by its own `ffmpeg -c copy` at once: frames lost
#    (each reader's access units must be one unbroken run of its camera's frames), serve's CPU and
#    peak RSS.
# Nothing is asserted; the figures go to standard output, one JSON line per part.
set -uo pipefail
build=$1 data=$2 seconds=${3:-60} cameras=${4:-16}
here=$(cd "$(dirname "$0")" && pwd)
cli=$build/src/app/cli/vistrel-cli sim=$build/tools/camsim/vistrel-camsim
check=$here/../../tests/stream/check_rtsp.py
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=1\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"
clk=$(getconf CLK_TCK)

printf '{ "seed": 5, "defaults": { "media": { "width": 1280, "height": 720, "fps": 25, "kbps": 2000 } },
  "cameras": [ { "count": %d, "id": 6000, "serial": "RB{n:2}" } ] }' "$cameras" >"$work/sc.json"
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/sc.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --media-log "$work/media.log" >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 1200); do grep -q "clips encoded" "$work/sim.out" && break; sleep 0.1; done
"$cli" --json serve >"$work/serve.out" 2>"$work/serve.err" &
serve=$!
pids+=("$serve")
for _ in $(seq 300); do
  (($(grep -c '"offered"' "$work/serve.out") >= cameras)) && break
  sleep 0.1
done

# cpu_ticks PID: user + system clock ticks so far.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# With RTSP_BENCH_PERF_STAT=FILE, perf stat counts serve's CPU time, context switches and
# migrations per thread, with no stream (FILE.idle) and during part 1 (FILE.one). It counts only
# the threads there when it starts: for part 1 it waits for the stream's, which its reader makes.
# wait_thread NAME: until serve has a thread of that name (at most 10 s).
wait_thread() { for _ in $(seq 100); do grep -qsx "$1" /proc/"$serve"/task/*/comm && break; sleep 0.1; done; }
perf_stat() { # perf_stat SUFFIX SECONDS [THREAD]: in the background
  [[ -n ${RTSP_BENCH_PERF_STAT:-} ]] || return 0
  (
    start=$(date +%s)
    if (($# > 2)); then
      wait_thread "$3"
      sleep 1
    fi
    left=$(($2 - $(date +%s) + start - 1))
    ((left > 0)) && exec perf stat -x, --per-thread -e task-clock,context-switches,cpu-migrations \
      -o "$RTSP_BENCH_PERF_STAT.$1" -p "$serve" -- sleep "$left" >/dev/null 2>&1
  ) &
  pids+=($!)
}

# What serve costs with no stream (search, presence, capture), for comparison.
# Twenty seconds: the search's own rounds come every few seconds.
t0=$(cpu_ticks "$serve") s0=$(date +%s.%N)
perf_stat idle 21
sleep 20
idle=$(echo "($(cpu_ticks "$serve") - $t0) * 100 / $clk / ($(date +%s.%N) - $s0)" | bc -l)

# 1. Latency, one stream, its reader over UDP (RTSP_BENCH_TRANSPORT=tcp: interleaved in the RTSP
# connection). On one host the kernel delivers each UDP datagram to the reader in the sender's
# thread, so over UDP part of the reader's receiving counts in serve's CPU.
transport=${RTSP_BENCH_TRANSPORT:-udp}
# With RTSP_BENCH_PERF=FILE, perf records serve meanwhile (perf report -i
# FILE --no-children --sort comm,dso,symbol shows where its time goes).
t0=$(cpu_ticks "$serve") s0=$(date +%s.%N)
if [[ -n ${RTSP_BENCH_PERF:-} ]]; then
  perf record -q -F 999 -g -o "$RTSP_BENCH_PERF" -p "$serve" -- sleep "$seconds" >/dev/null 2>&1 &
  pids+=($!)
fi
perf_stat one "$seconds" vsrc:src
# The steady state: from two seconds after the stream's thread appears (the reader's DESCRIBE and
# the media's set-up are over by then) to the reader's end.
(
  wait_thread vsrc:src
  sleep 2
  echo "$(cpu_ticks "$serve") $(date +%s.%N)" >"$work/steady"
) &
pids+=($!)
python3 "$here/latency.py" "$work/media.log" 6000 "$seconds" \
  stdbuf -oL gst-launch-1.0 -v rtspsrc location=rtsp://127.0.0.1:8554/RB01 latency=0 protocols="$transport" ! rtph264depay ! \
  video/x-h264,stream-format=byte-stream,alignment=au ! fakesink silent=false sync=false >"$work/latency.json"
t1=$(cpu_ticks "$serve") s1=$(date +%s.%N)
[[ -s $work/steady ]] || echo "$t0 $s0" >"$work/steady"
read -r ts ss <"$work/steady"
jq -c --argjson cpu "$(echo "($t1 - $t0) * 100 / $clk / ($s1 - $s0)" | bc -l)" --argjson idle "$idle" \
  --argjson steady "$(echo "($t1 - $ts) * 100 / $clk / ($s1 - $ss)" | bc -l)" \
  --arg transport "$transport" '{part: "one stream", readers: 1, transport: $transport} + . + {serve_cpu_percent: ($cpu * 100 | round / 100),
    serve_steady_cpu_percent: ($steady * 100 | round / 100), serve_idle_cpu_percent: ($idle * 100 | round / 100),
    per_stream_cpu_percent: (($steady - $idle) * 100 | round / 100)}' "$work/latency.json"

# Datagrams the kernel dropped for a full receive buffer in the client's namespace.
rcvbuf_errors() { awk '/^Udp:/ { if (!n++) { for (i = 1; i <= NF; i++) c[$i] = i } else print $c["RcvbufErrors"] }' /proc/net/snmp; }

# 2. Every camera, one ffmpeg each, all at once.
r0=$(rcvbuf_errors)
t0=$(cpu_ticks "$serve") s0=$(date +%s.%N)
readers=()
for n in $(seq -f '%02g' 1 "$cameras"); do
  timeout $((seconds + 60)) ffmpeg -v error -rtsp_transport tcp -t "$seconds" -i "rtsp://127.0.0.1:8554/RB$n" \
    -map 0:v -c copy -f framehash -hash crc32 "$work/RB$n.hash" \
    -map 0:v -c copy -bsf:v setts=pts=N:dts=N -f h264 "$work/RB$n.h264" 2>"$work/RB$n.err" &
  readers+=($!)
done
wait "${readers[@]}"
t1=$(cpu_ticks "$serve") s1=$(date +%s.%N)
rss=$(awk '/VmHWM/ { print $2 }' "/proc/$serve/status")
lost=0 units_all=0 broken=0 missing_all=0
for n in $(seq -f '%02g' 1 "$cameras"); do
  read -r units unmatched in_order missing _ < <(python3 "$check" units "$work/media.log" "$work/RB$n.hash" "$work/RB$n.h264" $((6000 + 10#$n - 1)))
  units_all=$((units_all + ${units:-0}))
  broken=$((broken + ${unmatched:-1}))
  missing_all=$((missing_all + ${missing:-0}))
  ((${in_order:-0} == 1)) || lost=$((lost + 1))
done
printf '{"part":"every camera","readers":%d,"seconds":%s,"access_units":%d,"unmatched_units":%d,"readers_with_gaps":%d,"frames_lost":%d,"serve_cpu_percent":%.2f,"serve_peak_rss_kib":%d,"kernel_rcvbuf_drops":%d,"load":"%s"}\n' \
  "$cameras" "$seconds" "$units_all" "$broken" "$lost" "$missing_all" \
  "$(echo "($t1 - $t0) * 100 / $clk / ($s1 - $s0)" | bc -l)" "$rss" $(($(rcvbuf_errors) - r0)) \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
kill -INT "$serve"
wait "$serve"
