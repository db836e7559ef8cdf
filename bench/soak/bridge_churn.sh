#!/usr/bin/env bash
# The RTSP bridge through what a soak's faults do to it, one at a time: a reader of one camera
# that comes and goes (2 s of `ffmpeg -c copy` over TCP per cycle), and every CHURN_REBOOT_EVERY
# cycles the camera rebooting for CHURN_REBOOT_MS (the reader trying again every 2 s), every CHURN_LINK_EVERY cycles the client's
# link down for 10 s. The bridge's heap in use (its health file) after each cycle goes to
# OUT/cycles; the last line compares the first cycle after the warm-up with the last. Run in the
# lab (the link fault takes the lab client's own eth0 down):
#   scripts/lab/lab-run.sh --camera-addrs 16 -- bench/soak/bridge_churn.sh <build tree> <data> [cycles] [out dir]
# CHURN_CAMERAS cameras in all (default 1; the reader reads the first). With CHURN_AUTH=1 the
# bridge listens on the lab client's address with an account, as a service would, and the readers
# come from the camera namespace; with CHURN_HOLD=1 a second reader holds the second camera's
# stream for the whole run (two cameras at least). CHURN_REBOOT_SERIALS: the cameras that reboot
# (default RB01, the one read; the simulator's serials are RB01, RB02, ...).
set -uo pipefail
build=$(realpath "$1") data=$(realpath "$2") cycles=${3:-40} out=${4:-$(mktemp -d)}
[[ -n ${LAB_CLIENT_NS:-} && $(ip netns identify $$) == "$LAB_CLIENT_NS" ]] ||
  { echo "bridge_churn.sh: run it inside the lab (scripts/lab/lab-run.sh)" >&2; exit 2; }
cli=$build/src/app/cli/vistrel-cli sim=$build/tools/camsim/vistrel-camsim
mkdir -p "$out" && : >"$out/cycles"
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=1\n[LANGUAGE]\nID=9\n' >"$VISTREL_HOME/Vistrel.ini"
printf '{ "seed": 5, "defaults": { "media": { "width": 640, "height": 360, "fps": 25, "kbps": 1000 } },
  "cameras": [ { "count": %d, "id": 6000, "serial": "RB{n:2}" } ] }' "${CHURN_CAMERAS:-1}" >"$work/sc.json"
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/sc.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl" >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 1200); do grep -q "clips encoded" "$work/sim.out" && break; sleep 0.1; done
url=rtsp://127.0.0.1:8554 serve=(serve) peer=()
if [[ -n ${CHURN_AUTH:-} ]]; then
  read -r addr _ <<<"$LAB_CLIENT_ADDRS"
  printf 'churn-pass\n' >"$work/pw"
  serve=(serve --bind "$addr" --user churn --password-file "$work/pw")
  url=rtsp://churn:churn-pass@$addr:8554 peer=(ip netns exec "$LAB_CAMERA_NS_1")
fi
VISTREL_HEALTH=$out/health VISTREL_HEALTH_MS=1000 "$cli" --json "${serve[@]}" >"$out/serve.out" 2>"$out/serve.err" &
pids+=($!)
for _ in $(seq 300); do grep -q '"offered"' "$out/serve.out" && break; sleep 0.1; done
# read_rtsp SERIAL LOG [SECONDS]: one reader of the camera's stream over TCP, as a recorder reads
# it, for SECONDS (given up 8 s later) or until the stream ends.
read_rtsp() {
  local limit=()
  (($# > 2)) && limit=(timeout $(($3 + 8)))
  "${limit[@]}" "${peer[@]}" ffmpeg -nostdin -v error -rtsp_transport tcp -i "$url/$1" ${3:+-t "$3"} \
    -map 0:v -c copy -f null - 2>>"$out/$2"
}
if [[ -n ${CHURN_HOLD:-} ]]; then
  read_rtsp RB02 holder.err &
  pids+=($!)
fi

reboot_ms=${CHURN_REBOOT_MS:-35000}
for i in $(seq "$cycles"); do
  read_rtsp RB01 reader.err 2
  if [[ -n ${CHURN_LINK_EVERY:-} ]] && ((i % CHURN_LINK_EVERY == 0)); then
    ip link set eth0 down && sleep 10 && ip link set eth0 up && ip route replace 224.0.0.0/4 dev eth0
    sleep 20
  fi
  if [[ -n ${CHURN_REBOOT_EVERY:-} ]] && ((i % CHURN_REBOOT_EVERY == 0)); then
    for c in ${CHURN_REBOOT_SERIALS:-RB01}; do "$sim" --send "$work/ctl" reboot "$c" "$reboot_ms" >/dev/null; done
    # Meanwhile the reader tries again every 2 s, as a recorder or player pointed at it does.
    until_s=$((SECONDS + reboot_ms / 1000 + 6))
    while ((SECONDS < until_s)); do
      read_rtsp RB01 reader.err 1
      sleep 2
    done
  fi
  # The media a reader leaves goes a few seconds later: every sample is taken as long after.
  sleep "${CHURN_SETTLE_S:-6}"
  echo "$i $(tail -1 "$out/health" | grep -o 'heap_used=[0-9]*' | cut -d= -f2)" >>"$out/cycles"
done
# A tenth of the cycles (at least one) is warm-up.
awk -v n="$cycles" 'NR == int(n / 10) + 1 { first = $2; at = $1 } END {
  printf "heap in use: %d bytes after cycle %d, %d after cycle %d: %+.1f KiB per cycle\n",
    first, at, $2, $1, ($1 > at ? ($2 - first) / 1024 / ($1 - at) : 0) }' "$out/cycles"
