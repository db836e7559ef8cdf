#!/usr/bin/env bash
# Lab smoke test of the simulator: one camera in the lab's camera namespace answers a hand-made
# search from the client namespace. Run through lab-run.sh (ctest does that).
#   lab_smoke.sh <vistrel-camsim> <camsim_probe>
set -euo pipefail
sim=$1 probe=$2
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT

cat >"$work/scenario.json" <<'JSON'
{ "seed": 11,
  "cameras": [ { "id": 305419896, "serial": "VSLAB0001", "name": "Lab camera", "cipher": "both",
                 "password": "s3cret", "encrypt_version": 1 } ] }
JSON
read -r cam_addr _ <<<"$LAB_CAMERA_ADDRS_1"
read -r client_addr _ <<<"$LAB_CLIENT_ADDRS"

ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$cam_addr" \
  --control "$work/ctl.sock" &
pid=$!
for _ in $(seq 50); do [[ -S $work/ctl.sock ]] && break; sleep 0.1; done
[[ -S $work/ctl.sock ]] || { echo "simulator did not start"; exit 1; }

"$probe" "$client_addr" "$cam_addr" 305419896 VSLAB0001 s3cret "$work/ctl.sock"
