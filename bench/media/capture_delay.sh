#!/usr/bin/env bash
# Arrival-to-engine delay through the socket manager and the packet capture; run inside the lab:
#   scripts/lab/lab-run.sh -- bench/media/capture_delay.sh <capture_delay_bench> [port]
# A burst of 500 datagrams, then 100 at 40 ms (a camera's audio pace), from the first camera
# namespace to the client's first address.
set -uo pipefail
bench=$1 port=${2:-8120}
"$bench" recv "$port" 8 &
recv_pid=$!
sleep 1
ip netns exec "$LAB_CAMERA_NS_1" "$bench" send "${LAB_CLIENT_ADDRS%% *}" "$port" 500 100 40
wait $recv_pid
