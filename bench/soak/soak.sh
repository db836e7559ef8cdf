#!/usr/bin/env bash
# Soak: the clients run for a long time against 16 + 16 + 6 simulated cameras on a faulty
# network while a sampler records their memory, descriptors, threads and media state every 10 s.
#  - the desktop client under Xvfb with a 4x4 wall: nine H.264 720p cameras, two MPEG-4, one
#    1080p and a recorder's four channels;
#  - `vistrel-cli live` on a second set of 16 cameras (a camera streams to one viewer only),
#    from the second lab namespace;
#  - the RTSP bridge (`vistrel-cli serve`, fourth namespace, on its lab address with an account)
#    on two cameras of its own, each read for the whole run by an `ffmpeg -c copy` from the third
#    namespace, started again when it ends (its camera went away);
#  - the PC recorder (`vistrel-cli record`, fifth namespace) on four cameras of its own, one-minute
#    segments, the folder held to SOAK_RECORD_GIB (default 2); every segment left is read back
#    with ffprobe at the end. (A camera streams to one PC: the bridge and the recorder cannot take
#    the desktop's cameras without taking them away from it.)
#  - the whole run: a few per cent of loss, reordering, duplication and truncation on the media
#    and command paths; at seeded times: a camera rebooting (silent 30-90 s, back with a new
#    sequence start), one changing its picture size, one whose password changes (and changes
#    back), the desktop client's link down for 10 s, a malformed-datagram spray from the third
#    lab namespace, an SD download interrupted and resumed, a firmware upgrade; runs of 30 min or
#    more go through them again (but the picture size change and the upgrade) every
#    SOAK_FAULT_PERIOD minutes (default 10).
# At the end it checks, and prints as its figures: the RSS slope over the last two thirds (least
# squares, MiB/h) under SOAK_MAX_SLOPE (default 1; runs of 30 min or more), the CLI's heap slope
# under SOAK_MAX_CLI_HEAP_SLOPE (default 4, 80 in runs under 30 min), descriptors and threads
# back to their warm counts, every camera streaming again, every frame the CLI took
# byte-identical to one the simulator sent, both clients ended cleanly and no sanitizer,
# assertion or crash report; the same figures and checks for the bridge and the recorder, their
# readers streaming at the end and every recorded segment readable.
# Run in the lab (five namespaces: cameras, CLI, peer, bridge, recorder):
#   scripts/lab/lab-run.sh --cameras 5 --camera-addrs 40 -- bench/soak/soak.sh <build tree> <data> [minutes] [out dir]
# The out dir (default: a temporary one, removed) keeps soak.csv, cameras.csv, events.log,
# soak.png, the logs and each process's smaps and descriptors where the window starts and at the end
# (smaps_diff.py), and the desktop's smaps every ten minutes. SOAK_SEED picks the fault times.
# SOAK_DESK_WRAP and SOAK_CLI_WRAP run the desktop client, the CLI and the recorder (SOAK_REC_WRAP) under a tool ("heaptrack -o FILE");
# SOAK_BRIDGE_HEAPTRACK attaches heaptrack to the bridge once warm (see below). The sanitizer tree runs it the same
# way (build/asan as the build tree); its leak report at exit counts as a failure.
set -uo pipefail
build=$(realpath "$1") data=$(realpath "$2") minutes=${3:-60} out=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
seconds=$((minutes * 60))
seed=${SOAK_SEED:-33}
client=$build/src/app/vistrel cli=$build/src/app/cli/vistrel-cli sim=$build/tools/camsim/vistrel-camsim
regsvr=$build/tools/regsvr/vistrel-regsvr module=$build/src/filter/libZebH264Filter.so
work=$(mktemp -d)
[[ -n $out ]] || out=$work/out
mkdir -p "$out"
out=$(realpath "$out")
: >"$out/faults.txt"
pids=()
cleanup() {
  [[ -S $work/ctl ]] && "$sim" --send "$work/ctl" quit >/dev/null 2>&1
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  if [[ $out != "$work"/* ]]; then
    cp "$work"/*.out "$work"/*.health "$work"/*.json "$work"/reader-*.log "$work/panes" "$work/foreign.txt" \
      "$work/ffprobe.txt" "$out/" 2>/dev/null
    # The clients' own logs, to tell what a pane or a camera went through.
    for who in desk cli bridge rec; do cat "$work/$who"/DebugInfo.*.log >"$out/$who.log" 2>/dev/null; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT
ns_cli=$LAB_CAMERA_NS_2 ns_peer=$LAB_CAMERA_NS_3 ns_bridge=$LAB_CAMERA_NS_4 ns_rec=$LAB_CAMERA_NS_5
read -r client_addr _ <<<"$LAB_CLIENT_ADDRS"
event() { echo "$(($(date +%s) - t0)) $*" >>"$out/events.log"; }

# --- cameras
RANDOM=$seed
at() { echo $((seconds * 15 / 100 + RANDOM % (seconds * 45 / 100))); } # inside [15 %, 60 %)
switch_at=$(at)
read -ra addrs < <(echo "$LAB_CAMERA_ADDRS_1")
cam() { # index serial id codec width height kbps [extra]
  printf '{ "address": "%s", "serial": "%s", "id": %d, "name": "%s", "media": { "codec": "%s", "width": %d, "height": %d, "kbps": %d %s } %s }' \
    "${addrs[$1]}" "$2" "$3" "$2" "$4" "$5" "$6" "$7" "${8:-}" "${9:-}"
}
media='{ "out": { "loss": 0.02, "duplicate": 0.02, "reorder": 0.05, "truncate": 0.005 } }'
media_whole='{ "out": { "loss": 0.02, "duplicate": 0.02, "reorder": 0.05, "truncate": 0 } }'
desk=() cliset=()
entries=()
for i in $(seq 1 16); do
  d=$(printf D%02d "$i") c=$(printf C%02d "$i")
  if ((i <= 12)); then
    case $i in
      10 | 11) spec=(mpeg4 1280 720 2000) ;;
      12) spec=(h264 1920 1080 4000) ;;
      *) spec=(h264 1280 720 2000) ;;
    esac
    extra= more=
    ((i == 5)) && extra=", \"switch\": { \"after_s\": $switch_at, \"width\": 640, \"height\": 360 }"
    ((i == 9)) && more=', "recordings": [ { "start": "2024-05-01T10:00:00Z", "end": "2024-05-01T11:00:00Z" } ]'
    entries+=("$(cam $((i - 1)) "$d" $((8000 + i)) "${spec[@]}" "$extra" "$more")")
    desk+=("$d")
  fi
  case $i in
    13 | 14) spec=(mpeg4 1280 720 2000) ;;
    15) spec=(h264 1920 1080 8000) ;;
    *) spec=(h264 1280 720 2000) ;;
  esac
  # The wire gives no frame length, so a shortened last segment makes a shorter frame nobody can
  # tell from a real one: the CLI's cameras, whose frames are compared, lose, reorder and repeat.
  entries+=("$(cam $((15 + i)) "$c" $((8100 + i)) "${spec[@]}" ", \"faults\": $media_whole")")
  cliset+=("$c")
done
entries+=("{ \"address\": \"${addrs[33]}\", \"serial\": \"NVR1\", \"id\": 8200, \"channels\": 4, \"name\": \"Recorder\" }")
desk+=(NVR1-1 NVR1-2 NVR1-3 NVR1-4)
# The bridge's two cameras and the recorder's four (a 1080p and an MPEG-4 among them).
bridgeset=(B01 B02) recset=(R01 R02 R03 R04)
entries+=("$(cam 34 B01 8301 h264 1280 720 2000)" "$(cam 35 B02 8302 h264 1280 720 2000)")
entries+=("$(cam 36 R01 8401 h264 1280 720 2000)" "$(cam 37 R02 8402 h264 1920 1080 4000)")
entries+=("$(cam 38 R03 8403 mpeg4 1280 720 2000)" "$(cam 39 R04 8404 h264 1280 720 2000)")
net='{ "loss": 0.01, "duplicate": 0.01, "reorder": 0.02, "truncate": 0.005 }'
cat >"$work/scenario.json" <<JSON
{ "seed": $seed,
  "defaults": { "faults": { "in": $net, "out": $net },
                "media": { "fps": 25, "gop": 50, "audio": true, "faults": $media } },
  "cameras": [ $(IFS=,; echo "${entries[*]}") ] }
JSON
cli_ids=$(seq -s'|' 8101 8116)
# The simulator's log of what it sent, kept for the CLI's cameras: id seq size crc.
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl" --media-log - \
  2>"$work/sim.out" | awk -v ids="^cam=($cli_ids)\$" '$2 ~ ids { sub("cam=", "", $2); sub("seq=", "", $5); sub("size=", "", $8); sub("crc=", "", $9); print $2, $5, $8, $9 }' \
  >"$work/sent.txt" &
pids+=($!)
ctl() { "$sim" --send "$work/ctl" "$@"; }
t0=$(date +%s)
for _ in $(seq 600); do grep -q "clips encoded" "$work/sim.out" 2>/dev/null && break; sleep 0.2; done
grep -q "clips encoded" "$work/sim.out" || { echo "FAIL: the simulator did not start"; cat "$work/sim.out"; exit 1; }

# --- the clients
mkhome() { # dir
  mkdir -p "$1" && cp "$data/CameraType.ini" "$data/Vistrel.ini" "$1/" && cp -r "$data/PictureSkin" "$1/" 2>/dev/null
  sed -i 's/^level=.*/level=3/' "$1/Vistrel.ini"
}
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkhome "$work/desk"
{
  printf '\n[LIVEGRID]\nlayout=16\n'
  # A recorder's channel is kept as its serial and its id.
  for i in "${!desk[@]}"; do
    k=${desk[$i]}
    [[ $k == NVR1-* ]] && k=$k:$((820000 + ${k#NVR1-}))
    echo "pane$i=$k"
  done
} >>"$work/desk/Vistrel.ini"
VISTREL_HOME=$work/desk "$regsvr" "$module" >/dev/null || { echo "FAIL: registering the decoder"; exit 1; }
# The CLI and the peer stand for PCs: one address each, not a camera namespace's forty.
for ns in "$ns_cli" "$ns_peer" "$ns_bridge" "$ns_rec"; do
  first=
  for a in $(ip netns exec "$ns" ip -4 -o addr show dev eth0 | awk '{ print $4 }'); do
    [[ -z $first ]] && first=$a && continue
    ip netns exec "$ns" ip addr del "$a" dev eth0
  done
done
mkhome "$work/cli"
mkhome "$work/peer"
mkhome "$work/bridge"
mkhome "$work/rec"
lsan=$here/../../tests/ui/lsan-desktop.supp
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$lsan}
export VISTREL_HEALTH_MS=10000
# BRIDGE: serve on the fourth namespace's address, which asks for an account.
bridge_addr=$(ip netns exec "$ns_bridge" ip -4 -o addr show dev eth0 | awk '{ sub("/.*", "", $4); print $4; exit }')
echo soak-rtsp-pass >"$work/rtsp.pw"
ip netns exec "$ns_bridge" env VISTREL_HOME="$work/bridge" VISTREL_HEALTH="$work/bridge.health" \
  "$cli" --json --wait 30 serve --bind "$bridge_addr" --user soak --password-file "$work/rtsp.pw" \
  $(printf -- '--camera %s ' "${bridgeset[@]}") >"$work/bridge.json" 2>"$work/bridge.out" &
bridge_pid=$!
pids+=($bridge_pid)
# heaptrack attached to the warm bridge (SOAK_BRIDGE_HEAPTRACK=FILE, after
# SOAK_BRIDGE_HEAPTRACK_AFTER seconds, default 300): it records what is allocated from then on and
# ends with the bridge, so it is not killed with the others (heap_window.py reads its file).
# Needs the heaptrack and gdb packages.
if [[ -n ${SOAK_BRIDGE_HEAPTRACK:-} ]]; then
  (sleep "${SOAK_BRIDGE_HEAPTRACK_AFTER:-300}" && heaptrack -o "$SOAK_BRIDGE_HEAPTRACK" -p "$bridge_pid") \
    >"$out/heaptrack.out" 2>&1 &
fi
# Its readers, from the peer namespace; one that ends (its camera went away, the link dropped)
# starts again after 2 s until the run's end.
reader() { # serial
  local n=0
  while [[ ! -e $work/stop ]]; do
    ip netns exec "$ns_peer" ffmpeg -nostdin -v error -rtsp_transport tcp -timeout 10000000 \
      -i "rtsp://soak:soak-rtsp-pass@$bridge_addr:8554/$1" -map 0:v -c copy -f null - >>"$work/reader-$1.log" 2>&1
    [[ -e $work/stop ]] && break
    n=$((n + 1))
    echo "$n" >"$work/reader-$1.restarts"
    sleep 2
  done
}
for b in "${bridgeset[@]}"; do
  reader "$b" &
  pids+=($!)
done
# RECORDER: one-minute segments, the folder held to a size so that a long run keeps its disk.
ip netns exec "$ns_rec" env VISTREL_HOME="$work/rec" VISTREL_HEALTH="$work/rec.health" \
  ${SOAK_REC_WRAP:-} "$cli" --json --wait 30 record "${recset[@]}" --dir "$work/recordings" --segment-seconds 60 \
  --max-gib "${SOAK_RECORD_GIB:-2}" >"$work/rec.json" 2>"$work/rec.out" &
rec_pid=$!
pids+=($rec_pid)
VISTREL_HOME=$work/desk VISTREL_HEALTH=$work/desk.health VISTREL_PANE_MAP=$work/panes \
  xvfb-run -a -n $((200 + RANDOM % 500)) -s "-screen 0 1600x1000x24" ${SOAK_DESK_WRAP:-} "$client" >"$work/desk.out" 2>&1 &
desk_wrap=$!
pids+=($desk_wrap)
ip netns exec "$ns_cli" env VISTREL_HOME="$work/cli" VISTREL_HEALTH="$work/cli.health" \
  ${SOAK_CLI_WRAP:-} "$cli" --json --wait 60 live "${cliset[@]}" --seconds $((seconds + 30)) --frame-log "$work/frames.txt" \
  >"$work/cli.json" 2>"$work/cli.out" &
cli_pid=$!
pids+=($cli_pid)
# The desktop client under its wrappers, told from other runs' by its environment.
for _ in $(seq 100); do
  for p in $(pgrep -x vistrel); do
    grep -qz "^VISTREL_HEALTH=$work/desk.health\$" "/proc/$p/environ" 2>/dev/null && desk_pid=$p
  done
  [[ -n ${desk_pid:-} ]] && break
  sleep 0.2
done
# Under a wrapper (SOAK_CLI_WRAP, SOAK_REC_WRAP) a CLI is the wrapper's child.
real_pid() { # pid wrapper
  [[ -n $2 ]] || { echo "$1"; return; }
  for _ in $(seq 50); do
    pgrep -x -P "$1" vistrel-cli && return
    sleep 0.2
  done
  echo "$1"
}
cli_real=$(real_pid "$cli_pid" "${SOAK_CLI_WRAP:-}")
rec_real=$(real_pid "$rec_pid" "${SOAK_REC_WRAP:-}")
[[ -n ${desk_pid:-} ]] || { echo "FAIL: the desktop client did not start"; exit 1; }
event "desktop pid $desk_pid, cli pid $cli_real"

# --- faults at seeded times
mkdir -p "$work/img" && "$sim" --make-image --version 2.2.0 --size 300000 -o "$work/img/8126.Img" >/dev/null
peer=(ip netns exec "$ns_peer" env VISTREL_HOME="$work/peer" "$cli" --json --wait 30)
spray() { # seconds: random datagrams, 0 to 1500 bytes, at every client port
  ip netns exec "$ns_peer" python3 - "$1" "$client_addr" "${LAB_CAMERA_ADDRS_2%% *}" <<'PY'
import os, random, socket, sys, time
end = time.time() + float(sys.argv[1]); hosts = sys.argv[2:]
ports = [8000, 8001] + list(range(8100, 8114))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); n = 0
while time.time() < end:
    s.sendto(os.urandom(random.choice([0, 1, 7, 8, 9, 19, 20, 40, 300, 1280, 1288, 1500])),
             (random.choice(hosts), random.choice(ports))); n += 1
    if n % 200 == 0: time.sleep(0.02)
print(n)
PY
}
# Runs of 30 minutes or more go through the faults again every SOAK_FAULT_PERIOD minutes
# (default 10): what a fault leaves behind then adds up over the measured window, and the dips a
# fault causes (a camera gone, its buffers freed) fall all along the window, not once at its start.
# The picture size changes once and the upgrade runs once.
period=$seconds
((minutes >= 30)) && period=$((${SOAK_FAULT_PERIOD:-10} * 60))
in_cycle() { echo $(($1 + period * 15 / 100 + RANDOM % (period * 45 / 100))); } # [15 %, 60 %) of the cycle
{
  echo "$switch_at switch"
  echo "$(at) upgrade"
  for ((c = 0; c + period <= seconds; c += period)); do
    echo "$(in_cycle $c) reboot $((30000 + RANDOM % 60001))"
    echo "$(in_cycle $c) password"
    echo "$(in_cycle $c) link"
    echo "$(in_cycle $c) spray"
    echo "$(in_cycle $c) download"
  done
} | sort -n >"$work/plan"
event "plan: $(tr '\n' ' ' <"$work/plan")"
(
  while read -r when what arg; do
    now=$(($(date +%s) - t0))
    ((when > now)) && sleep $((when - now))
    begin=$(($(date +%s) - t0))
    case $what in
      switch) event "D05 switches to 640x360 (after $switch_at s of streaming)" ;;
      reboot)
        # A desktop camera, a bridged one (its reader ends and starts again) and a recorded one.
        for c in D03 B02 R02; do event "reboot $c for $arg ms: $(ctl reboot $c "$arg")"; done
        ;;
      password)
        event "password of D07 set: $(ctl password D07 changed)"
        sleep 30
        event "password of D07 back to none: $(ctl password D07)"
        ;;
      link)
        event "client link down"
        ip link set eth0 down
        sleep 10
        ip link set eth0 up
        ip route replace 224.0.0.0/4 dev eth0
        event "client link up"
        ;;
      spray) event "spray: $(spray 5) datagrams" ;;
      download)
        rm -rf "$work/dl" && mkdir -p "$work/dl"
        # Interrupted once SOAK_CUT_BYTES (20 MB, about a third of the range) are in, not at a
        # time: on a quiet link the whole range takes about 2 s, and would seldom be cut short.
        "${peer[@]}" download D09 --from 2024-05-01T10:00:00Z --to 2024-05-01T10:10:00Z --dir "$work/dl" \
          >"$work/dl1.out" 2>&1 &
        dl=$!
        for _ in $(seq 1200); do
          kill -0 "$dl" 2>/dev/null || break
          (($(du -sb "$work/dl" | cut -f1) >= ${SOAK_CUT_BYTES:-20000000})) && break
          sleep 0.05
        done
        kill -INT "$dl" 2>/dev/null
        wait "$dl"
        rc=$?
        event "download interrupted: exit $rc, $(du -sb "$work/dl" | cut -f1) bytes"
        sleep 5
        timeout 300 "${peer[@]}" download D09 --from 2024-05-01T10:00:00Z --to 2024-05-01T10:10:00Z --dir "$work/dl" \
          >"$work/dl2.out" 2>&1
        rc2=$?
        event "download resumed: exit $rc2, $(du -sb "$work/dl" | cut -f1) bytes"
        ((rc != 0 && rc2 == 0)) ||
          echo "download of D09: interrupted with exit $rc, resumed with exit $rc2 (not 0, then 0)" >>"$work/download.failed"
        ;;
      upgrade)
        # The download and the upgrade share the peer namespace's ports: one after the other.
        timeout 300 "${peer[@]}" upgrade D08 --image-dir "$work/img" --timeout 240 >"$work/upgrade.out" 2>&1
        rc=$?
        # The camera reboots into the new image: its version is read once it is back with it.
        fw=
        for _ in $(seq $((rc == 0 ? 150 : 1))); do
          fw=$(ctl dump D08 | jq -r '.camera | select(.rebooting | not) | .firmware' 2>/dev/null)
          [[ $fw == 2.2.0 ]] && break
          sleep 1
        done
        event "upgrade of D08: exit $rc, firmware ${fw:-none (still rebooting)}"
        [[ $rc == 0 && $fw == 2.2.0 ]] || echo "upgrade of D08: exit $rc, firmware ${fw:-none}, 2.2.0 wanted" >"$work/upgrade.failed"
        ;;
    esac
    # How long the fault lasted (a rebooted camera until it is back), for the slope's samples.
    end=$(($(date +%s) - t0))
    [[ $what == reboot ]] && end=$((begin + arg / 1000))
    echo "$begin $end $what" >>"$out/faults.txt"
  done <"$work/plan"
) &
events_pid=$!
pids+=($events_pid)

# --- the sampler
proc_row() { # name pid health
  local pid=$2 rss pss fds threads cpu h
  rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
  [[ -n $rss ]] || return
  # PSS, and RSS as anonymous memory (heap, stacks, arenas) and the rest (mapped files, shared
  # memory such as the X server's images).
  read -r pss anon < <(awk '/^Pss:/ { p = $2 } /^Anonymous:/ { a = $2 } END { print p, a }' "/proc/$pid/smaps_rollup" 2>/dev/null)
  threads=$(awk '/^Threads/ { print $2 }' "/proc/$pid/status")
  # Not counted: the system's read-only data a library opens once, when first needed, and keeps
  # (Qt's icon theme cache, when a state icon is first shown, which in a short run can come
  # after the warm third).
  fds=$(find "/proc/$pid/fd" -mindepth 1 -printf '%l\n' 2>/dev/null | grep -vc '^/usr/')
  cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "%.1f", ($12 + $13) / hz }' "/proc/$pid/stat")
  h=$(tail -n 1 "$3" 2>/dev/null)
  val() { sed -n "s/.* $1=\([0-9]*\).*/\1/p" <<<"$h"; }
  local logs heap
  logs=$(cat "$4"/DebugInfo.*.log 2>/dev/null | wc -c)
  heap=$(val heap_used) # none yet from a client still starting
  echo "$t,$1,$rss,$pss,$((${heap:-0} / 1024)),$fds,$threads,$cpu,$(val senders),$(val pool_chunks),$(val pool_resident),$(val capture_queue),$(val dropped_segments),$(val dropped_frames),$(val damaged_frames),$logs,$5,$anon,$((rss - ${anon:-0})),$(val segment_room)" >>"$out/soak.csv"
}
echo "t,proc,rss_kb,pss_kb,heap_kb,fds,threads,cpu_s,senders,pool_chunks,pool_resident,capture_queue,dropped_segments,dropped_frames,damaged_frames,log_bytes,frames_sent,anon_kb,file_kb,segment_room" >"$out/soak.csv"
echo "t,camera,live_frames,live_active" >"$out/cameras.csv"
sample() {
  t=$(($(date +%s) - t0))
  ctl media all | jq -r --arg t "$t" '.media | to_entries[] | "\($t),\(.key),\(.value.live_frames),\(.value.streams.live.active)"' \
    >"$work/cams.now"
  # The CLI's live view runs for a set time, which the wait for cameras rebooted late can outlast:
  # once it has ended, its cameras stop by design and are judged on the samples taken while it ran.
  local sets=("${desk[@]}" "${bridgeset[@]}" "${recset[@]}")
  kill -0 "$cli_real" 2>/dev/null && sets+=("${cliset[@]}")
  grep -E ",($(IFS='|'; echo "${sets[*]}"))," "$work/cams.now" >>"$out/cameras.csv"
  proc_row desktop "$desk_pid" "$work/desk.health" "$work/desk" "$(awk -F, '$2 ~ /^(D|NVR)/ { n += $3 } END { print n + 0 }' "$work/cams.now")"
  proc_row cli "$cli_real" "$work/cli.health" "$work/cli" "$(awk -F, '$2 ~ /^C/ { n += $3 } END { print n + 0 }' "$work/cams.now")"
  proc_row bridge "$bridge_pid" "$work/bridge.health" "$work/bridge" "$(awk -F, '$2 ~ /^B/ { n += $3 } END { print n + 0 }' "$work/cams.now")"
  proc_row recorder "$rec_real" "$work/rec.health" "$work/rec" "$(awk -F, '$2 ~ /^R/ { n += $3 } END { print n + 0 }' "$work/cams.now")"
  # Each process's mappings where the measured window starts, and at the end (smaps_diff.py
  # tells which mappings grew: heap, arenas, thread stacks, the pool, libraries).
  ((t >= seconds / 3)) && [[ ! -f $out/desktop.smaps.warm ]] && smaps warm
  # The desktop's mappings every ten minutes besides: two of them outside the faults' dips tell
  # which kind of memory a slow rise in its RSS is (smaps_diff.py).
  if ((t / 600 > desk_snap)); then
    desk_snap=$((t / 600))
    cp "/proc/$desk_pid/smaps" "$out/desktop.smaps.$t" 2>/dev/null
  fi
}
desk_snap=0
smaps() {
  local name pid
  for name in desktop:$desk_pid cli:$cli_real bridge:$bridge_pid recorder:$rec_real; do
    pid=${name#*:}
    cp "/proc/$pid/smaps" "$out/${name%%:*}.smaps.$1" 2>/dev/null
    # What each descriptor is, to tell what a count above the warm one holds.
    find "/proc/$pid/fd" -mindepth 1 -printf '%f %l\n' 2>/dev/null >"$out/${name%%:*}.fds.$1"
  done
}
end=$((t0 + seconds))
while (($(date +%s) < end)); do
  sample
  sleep $((10 - ($(date +%s) - t0) % 10))
done
sample

# --- the end
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# A fault still under way (the upgrade late in a short run) is let finish, so that it is judged.
for _ in $(seq 300); do kill -0 "$events_pid" 2>/dev/null || break; sleep 1; done
kill -0 "$events_pid" 2>/dev/null && fail "the faults had not finished 300 s after the end"
# A camera rebooted late in a short run (slow faults before it put it there, as under the
# sanitizers) is back only at the end: it gets SOAK_RETURN_S (60) after its silence to stream again
# before it is judged, and two more samples.
last_back=$(awk '$3 == "reboot" && $2 > b { b = $2 } END { print b + 0 }' "$out/faults.txt" 2>/dev/null)
settle=$((t0 + ${last_back:-0} + ${SOAK_RETURN_S:-60}))
if (($(date +%s) < settle)); then
  event "waiting $((settle - $(date +%s))) s for the cameras rebooted at the end"
  sleep $((settle - $(date +%s)))
  sample
  sleep 10
  sample
fi
# Each camera streams now: active and its frame count moving between the last two samples.
stalled=$(awk -F, 'NR > 1 { prev[$2] = last[$2]; last[$2] = $3; act[$2] = $4 }
  END { for (c in last) if (act[c] != "true" || last[c] <= prev[c]) printf "%s ", c }' "$out/cameras.csv")
[[ -z $stalled ]] || fail "not streaming at the end: $stalled"
smaps end
kill -TERM "$desk_pid"
for _ in $(seq 150); do kill -0 "$desk_pid" 2>/dev/null || break; sleep 0.2; done
wait "$desk_wrap"
desk_exit=$?
wait "$cli_pid"
cli_exit=$?
# The bridge and the recorder stop as a service does, on SIGTERM; the readers end with the bridge.
touch "$work/stop"
kill -TERM "$bridge_pid" "$rec_real"
wait "$bridge_pid"
bridge_exit=$?
wait "$rec_pid"
rec_exit=$?
ctl quit >/dev/null 2>&1
wait "${pids[0]}"
((desk_exit == 0)) || fail "the desktop client ended with $desk_exit"
((cli_exit == 0)) || fail "vistrel-cli live ended with $cli_exit: $(jq -c '[.cameras[] | select(.ok | not) | .serial]' "$work/cli.json" 2>/dev/null)"
((bridge_exit == 0)) || fail "vistrel-cli serve ended with $bridge_exit"
((rec_exit == 0)) || fail "vistrel-cli record ended with $rec_exit"
for b in "${bridgeset[@]}"; do
  echo "reader of $b: started again $(cat "$work/reader-$b.restarts" 2>/dev/null || echo 0) times"
done
# Every segment the recorder left is one a player reads: ffprobe counts its video packets.
segments=0 unreadable=0
while IFS= read -r f; do
  segments=$((segments + 1))
  packets=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
    -of csv=p=0 "$f" 2>>"$work/ffprobe.txt")
  if [[ $? -ne 0 || ! ${packets:-0} -gt 0 ]]; then
    unreadable=$((unreadable + 1))
    echo "$f: ${packets:-no video}" >>"$work/ffprobe.txt"
  fi
done < <(find "$work/recordings" -name '*.mp4' | sort)
echo "recorded segments: $segments, $unreadable not readable, $(du -sm "$work/recordings" | cut -f1) MiB"
((segments > 0 && unreadable == 0)) || fail "recorded segments not readable: $unreadable of $segments"
[[ -f $work/upgrade.failed ]] && fail "$(cat "$work/upgrade.failed")"
[[ -f $work/download.failed ]] && fail "$(cat "$work/download.failed")"
if grep -l "AddressSanitizer\|LeakSanitizer\|runtime error:\|Assertion\|FATAL\|Segmentation fault\|core dumped" \
  "$work"/*.out; then
  fail "a sanitizer, assertion or crash report (files above)"
fi
# Every frame the CLI took is one the simulator sent, byte for byte (size and CRC-32 of the whole frame).
awk '{ sub("id=", "", $2); sub("seq=", "", $3); sub("size=", "", $6); sub("crc=", "", $7); print $2, $3, $6, $7 }' \
  "$work/frames.txt" | sort -u -S 200M >"$work/got.sorted"
sort -u -S 200M "$work/sent.txt" >"$work/sent.sorted"
taken=$(wc -l <"$work/got.sorted")
comm -23 "$work/got.sorted" "$work/sent.sorted" >"$work/foreign.txt"
foreign=$(wc -l <"$work/foreign.txt")
echo "frames the CLI took: $taken distinct, $foreign not as the simulator sent them"
((taken > 0 && foreign == 0)) || fail "frames not as sent: $foreign of $taken"
cp "$out/events.log" "$work/events.log" 2>/dev/null
python3 "$here/soak_check.py" "$out/soak.csv" "${SOAK_MAX_SLOPE:-1}" "${SOAK_MAX_CLI_HEAP_SLOPE:-}" "${#recset[@]}" \
  "$out/faults.txt" ||
  failures=$((failures + 1))
gnuplot -e "csv='$out/soak.csv'; png='$out/soak.png'; title='soak, $minutes min, seed $seed'" "$here/soak.gp" ||
  fail "no plot"
cat "$out/events.log"
((failures == 0)) && echo "soak: all checks passed"
exit $((failures > 0))
