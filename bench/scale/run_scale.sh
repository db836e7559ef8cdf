#!/usr/bin/env bash
# The scale benchmark: N simulated cameras in one camera namespace of a lab made for this run,
# the client's start-up without a window (scale_bench) in the client namespace; prints the
# figures as a table with their ratio to the targets. Needs root (the lab does).
#
#   run_scale.sh [--cameras N (250)] [--build DIR (build/release)] [--steady-seconds S (60)]
#                [--debug-level L (as data/Vistrel.ini)] [--trace] [--keep DIR] [--kernel-neigh]
#
# --trace sends the client's debugger traces (capture-ring drops among them) to bench.err;
# --keep DIR keeps the simulator's and the client's output and log files there.
# The kernel's neighbour table (one for the whole machine, 1024 entries by default) cannot hold
# an address for each of more than about 900 cameras: unicast queries to the rest are dropped
# unsent. For such runs the limits are raised for the run and put back at its end, as a user
# with that many cameras on one network must do; --kernel-neigh keeps the kernel's limits.
# SCALE_WRAP runs the client under a profiler, e.g. SCALE_WRAP="heaptrack -o /tmp/scale".
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cameras=250 build=$root/build/release steady=60 debug_level='' keep='' trace=0 kernel_neigh=0
usage() {
  sed -n '5,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
while (($#)); do
  case $1 in
  --cameras) cameras=${2-}; shift 2 || usage ;;
  --build) build=$(cd "${2-}" && pwd); shift 2 || usage ;;
  --steady-seconds) steady=${2-}; shift 2 || usage ;;
  --debug-level) debug_level=${2-}; shift 2 || usage ;;
  --keep) keep=${2-}; shift 2 || usage ;;
  --trace) trace=1; shift ;;
  --kernel-neigh) kernel_neigh=1; shift ;;
  *) usage ;;
  esac
done
[[ $cameras =~ ^[0-9]+$ && $cameras -ge 1 && $cameras -le 4000 ]] || usage
[[ $steady =~ ^[0-9]+$ && $steady -ge 1 ]] || usage
[[ -z $debug_level || $debug_level =~ ^[0-5]$ ]] || usage

bench=$build/bench/scale/scale_bench
camsim=$build/tools/camsim/vistrel-camsim
for program in "$bench" "$camsim"; do
  [[ -x $program ]] || { echo "run_scale: $program is missing; build scale_bench and vistrel-camsim" >&2; exit 1; }
done

work=$(mktemp -d /tmp/vistrel-scale.XXXXXX)
neigh=/proc/sys/net/ipv4/neigh/default
neigh_saved=''
restore() {
  [[ -n $neigh_saved ]] && read -r t2 t3 <<<"$neigh_saved" && echo "$t2" >$neigh/gc_thresh2 && echo "$t3" >$neigh/gc_thresh3
  rm -rf "$work"
}
trap restore EXIT
neigh_note="kernel's neighbour table limit $(cat $neigh/gc_thresh3)"
if ((!kernel_neigh && cameras + 256 > $(cat $neigh/gc_thresh3))); then
  neigh_saved="$(cat $neigh/gc_thresh2) $(cat $neigh/gc_thresh3)"
  limit=$((cameras * 4 > 4096 ? cameras * 4 : 4096))
  echo $((limit / 2)) >$neigh/gc_thresh2
  echo $limit >$neigh/gc_thresh3
  neigh_note="neighbour table limit raised from ${neigh_saved#* } to $limit for the run"
fi
chmod 755 "$work"
mkdir "$work/home"
cp "$root/data/Vistrel.ini" "$root/data/CameraType.ini" "$work/home/"
if [[ -n $debug_level ]]; then
  sed -i "/^\[DEBUG\]/,/^\[/ s/^level=.*/level=$debug_level/" "$work/home/Vistrel.ini"
fi
level=$(sed -n '/^\[DEBUG\]/,/^\[/ s/^level=//p' "$work/home/Vistrel.ini")

cat >"$work/cameras.json" <<EOF
{
  "seed": 1,
  "cameras": [
    { "count": $cameras, "id": 20000, "serial": "SIM{n:5}", "name": "Cam {n}" }
  ]
}
EOF

# Runs in the client namespace: the simulator in the camera namespace, then the client.
cat >"$work/inner.sh" <<'EOF'
set -uo pipefail
ip netns exec "$LAB_CAMERA_NS_1" "$SCALE_CAMSIM" --scenario "$SCALE_WORK/cameras.json" \
  --addresses "$LAB_CAMERA_ADDRS_1" --control "$SCALE_WORK/camsim.sock" >"$SCALE_WORK/camsim.log" 2>&1 &
sim=$!
for _ in $(seq 600); do
  grep -q 'ready' "$SCALE_WORK/camsim.log" 2>/dev/null && break
  kill -0 $sim 2>/dev/null || break
  sleep 0.1
done
if ! grep -q 'ready' "$SCALE_WORK/camsim.log"; then
  echo "run_scale: the simulator did not start:" >&2
  cat "$SCALE_WORK/camsim.log" >&2
  kill $sim 2>/dev/null
  exit 1
fi
read -r -a stat <"/proc/$sim/stat"
sim_ticks0=$((stat[13] + stat[14]))
# With --trace: the client namespace's neighbour entries by state every 100 ms, and the table's
# machine-wide entry count, to set them against the client's sweep and query passes.
sampler=''
if ((SCALE_TRACE)); then
  while :; do
    { read -r _; read -r all _; } </proc/1/net/stat/arp_cache
    ip -4 neigh show | awk -v t="$(date +%s%3N)" -v all=$((16#$all)) '
      { n[$NF]++; total++; if ($NF == "INCOMPLETE" || $NF == "FAILED") printf "addr %s %s\n", $NF, $1 }
      END { printf "sample %s %d %d %d %d\n", t, total, n["INCOMPLETE"], n["FAILED"], all }'
    sleep 0.1
  done >"$SCALE_WORK/neigh.log" 2>/dev/null &
  sampler=$!
fi
echo "client_start_epoch_ms $(date +%s%3N)" >"$SCALE_WORK/neigh.start"
VISTREL_TRACE=$SCALE_TRACE VISTREL_HOME=$SCALE_WORK/home $SCALE_WRAP "$SCALE_BENCH" --cameras "$SCALE_CAMERAS" --steady-seconds "$SCALE_STEADY" \
  >"$SCALE_WORK/bench.out" 2>"$SCALE_WORK/bench.err"
rc=$?
[[ -n $sampler ]] && kill $sampler 2>/dev/null
read -r -a stat <"/proc/$sim/stat"
awk -v t=$((stat[13] + stat[14] - sim_ticks0)) -v hz="$(getconf CLK_TCK)" \
  'BEGIN { printf "camsim_cpu_s %.2f\n", t / hz }' >>"$SCALE_WORK/bench.out"
kill -TERM $sim 2>/dev/null
wait $sim
exit $rc
EOF

# How often the kernel's neighbour table was full: it is shared by every namespace of the
# machine (1024 entries by default), and a camera without an entry gets no unicast at all.
neigh_table_fulls() {
  local -a names values
  local line col=-1 total=0 i
  { read -r -a names
    for i in "${!names[@]}"; do [[ ${names[i]} == table_fulls ]] && col=$i; done
    while read -r -a values; do ((col >= 0)) && total=$((total + 16#${values[col]})); done
  } </proc/net/stat/arp_cache 2>/dev/null
  echo $total
}
fulls_before=$(neigh_table_fulls)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
rc=0
SCALE_WORK=$work SCALE_CAMSIM=$camsim SCALE_BENCH=$bench SCALE_CAMERAS=$cameras SCALE_STEADY=$steady SCALE_TRACE=$trace SCALE_WRAP=${SCALE_WRAP:-} \
  "$root/scripts/lab/lab-run.sh" --camera-addrs "$cameras" -- bash "$work/inner.sh" || rc=$?
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
fulls_after=$(neigh_table_fulls)
if [[ -n $keep ]]; then
  mkdir -p "$keep"
  cp -r "$work/." "$keep/"
fi
if ((rc != 0)); then
  echo "run_scale: the run failed (exit code $rc)" >&2
  cat "$work/bench.err" >&2 2>/dev/null || true
  exit $rc
fi

# The figures, then the table.
if ((trace)); then
  echo "capture_ring_drops $(grep -c 'Drop Packets' "$work/bench.err")" >>"$work/bench.out"
  # The kernel's ring, counted when the capture stops (and when a ring is swapped for another).
  awk '/dropped by the kernel/ { n += $(NF - 4) } END { printf "kernel_ring_drops %d\n", n }' \
    "$work/bench.err" >>"$work/bench.out"
  echo "send_errors $(grep -c '^Send To .* error' "$work/bench.err")" >>"$work/bench.out"
fi
echo "neigh_table_fulls $((fulls_after - fulls_before))" >>"$work/bench.out"
if [[ -s $work/neigh.log ]]; then
  # Peaks of the samples; the unresolved addresses are those the sweep found empty, plus any
  # camera whose entry failed.
  awk -v t0="$(cut -d' ' -f2 "$work/neigh.start")" '
    $1 == "addr" { seen[$3] = 1; next }
    $1 == "sample" {
      t = $2 - t0
      if ($3 > total) total = $3
      if ($4 > inc) { inc = $4; inc_at = t }
      if ($6 > all) { all = $6; all_at = t }
      if ($6 >= 1024 && full_first == "") full_first = t
      if ($6 >= 1024) full_last = t
    }
    END {
      for (a in seen) unresolved++
      printf "neigh_client_peak %d\nneigh_incomplete_peak %d\nneigh_incomplete_peak_at_ms %d\n", total, inc, inc_at
      printf "neigh_machine_peak %d\nneigh_machine_peak_at_ms %d\nneigh_unresolved_addresses %d\n", all, all_at, unresolved
      printf "neigh_machine_full_ms %s %s\n", full_first == "" ? -1 : full_first, full_last == "" ? -1 : full_last
    }' "$work/neigh.log" >>"$work/bench.out"
fi
cat "$work/bench.out"
echo
awk -v n="$cameras" -v level="$level" -v load_before="$load_before" -v load_after="$load_after" -v neigh_note="$neigh_note" \
  -v took=$(($(date +%s) - started)) -v cores="$(nproc)" '
  $1 == "kind_flags" { kinds = kinds "  " $0 "\n"; next }
  $1 == "socket_drops" || $1 == "incomplete_device" { next }
  $1 == "neigh_machine_full_ms" { v[$1] = $2 " to " $3; next }
  { v[$1] = $2 }
  function ratio(value, target) { return value < 0 ? "-" : sprintf("%.2f", value / target) }
  function verdict(value, target) { return value < 0 ? "MISSED" : (value <= target ? "met" : "MISSED") }
  function row(name, value, target, r, ok) { printf "%-44s %14s %14s %7s  %s\n", name, value, target, r, ok }
  END {
    period = v["search_period_ms"]
    printf "Scale benchmark: %d cameras in one camera namespace, client log level %s\n", n, level
    printf "machine: %d cores, load average %s before, %s after; run took %d s; %s\n\n", cores, load_before, load_after, took, neigh_note
    row("figure", "value", "target", "ratio", "")
    row("all cameras present (ms after search)", v["present_all_ms"], "<= " period, ratio(v["present_all_ms"], period), verdict(v["present_all_ms"], period))
    row("  present at the end of the first period", v["present_at_first_period"] "/" n, n "/" n, "", v["present_at_first_period"] == n ? "met" : "MISSED")
    inc = v["queries_incomplete_devices"]
    row("query flags complete (ms after search)", v["queries_complete_ms"], "", "", "")
    row("  passes needed by the slowest camera", v["passes_needed_max"], "<= 3", ratio(v["passes_needed_max"], 3), inc == 0 ? verdict(v["passes_needed_max"], 3) : "MISSED")
    row("  cameras with flags missing after 4 passes", inc, "0", "", inc == 0 ? "met" : "MISSED")
    cpu = v["steady_cpu_percent"]
    row("steady CPU (% of one core)", sprintf("%.2f", cpu), "< 5" (n == 250 || n == 1000 ? "" : " (at 250, 1000)"), ratio(cpu, 5), n == 250 || n == 1000 ? (cpu < 5 ? "met" : "MISSED") : "(info)")
    row("  CPU seconds per minute", sprintf("%.2f", v["steady_cpu_s_per_min"]), "< 3", "", "")
    rss = v["peak_rss_kib"] / 1024
    rss_target = n == 1000 ? 64 : 100
    row("peak RSS (MiB)", sprintf("%.1f", rss), "< " rss_target (n == 250 || n == 1000 ? "" : " (at 250)"), ratio(rss, rss_target), n == 250 || n == 1000 ? (rss < rss_target ? "met" : "MISSED") : "(info)")
    row("datagrams/s at the client, steady state", sprintf("%.1f", v["steady_rx_rate"]), "", "", "")
    row("  sent by the client per second, steady", sprintf("%.1f", v["steady_out_rate"]), "", "", "")
    row("datagrams/s at the client, start-up peak", sprintf("%.0f", v["start_in_rate_peak"]), "", "", "")
    row("frames received / UDP sent in start-up", v["start_rx_packets"] " / " v["start_out_datagrams"], "", "", "")
    row("  of them read from sockets (rest: capture)", v["start_in_datagrams"], "", "", "")
    row("socket queue overflows (start / steady)", v["start_rcvbuf_errors"] " / " v["steady_rcvbuf_errors"], "", "", "")
    if ("capture_ring_drops" in v) row("capture queue drops (whole run)", v["capture_ring_drops"], "", "", "")
    if ("kernel_ring_drops" in v) row("capture ring drops in the kernel (whole run)", v["kernel_ring_drops"], "", "", "")
    if ("send_errors" in v) row("sends refused by the kernel (whole run)", v["send_errors"], "", "", "")
    row("datagrams lost in socket buffers, start-up", v["start_socket_drops"], "", "", "")
    row("  unicast sends dropped by the kernel, start", v["start_sndbuf_errors"], "", "", "")
    row("neighbour table full (machine-wide, run)", v["neigh_table_fulls"], "", "", "")
    if ("neigh_client_peak" in v) {
      row("  client entries, peak (incomplete, at ms)", v["neigh_client_peak"] " (" v["neigh_incomplete_peak"] ", " v["neigh_incomplete_peak_at_ms"] ")", "", "", "")
      row("  machine-wide entries, peak (at ms)", v["neigh_machine_peak"] " (" v["neigh_machine_peak_at_ms"] ")", "", "", "")
      row("  addresses never resolved", v["neigh_unresolved_addresses"], "", "", "")
      row("  machine-wide table at 1024 (first, last ms)", v["neigh_machine_full_ms"], "", "", "")
    }
    row("offline notifications in steady state", v["steady_offline_notifications"], "0", "", v["steady_offline_notifications"] == 0 ? "met" : "MISSED")
    row("client CPU in start-up (s)", sprintf("%.2f", v["start_cpu_s"]), "", "", "")
    row("simulator CPU over the run (s)", v["camsim_cpu_s"], "", "", "")
    printf "\nquery flags that apply, by kind (as the device manager decides):\n%s", kinds
  }' "$work/bench.out"
