#!/usr/bin/env bash
# shellcheck disable=SC2016 # single-quoted scripts here are expanded by their own shells
# Checks the network lab itself: isolation from the host, reachability, multicast, the reverse-path
# filter, and removal on every way out. Run as root where labs are started from (ctest runs it
# through "lab-run.sh --host"); it makes its own labs. --inside and --inside-many are the checks
# it runs within a lab.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self=$here/$(basename "${BASH_SOURCE[0]}")
lab=$here/lab.sh
run=$here/lab-run.sh

fails=0
ok() { echo "ok   - $*"; }
fail() {
  echo "FAIL - $*"
  fails=$((fails + 1))
}
fails_quietly() { ! "$@" >/dev/null 2>&1; }
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

# ---------------------------------------------------------------------------------------------
# Inside a lab (run by lab-run.sh in the client namespace)

tmp=$(mktemp -d)
bg=()
finish_inside() {
  local p
  for p in "${bg[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}

in_ns() {
  local ns=$1
  shift
  ip netns exec "$ns" "$@"
}

wait_udp_bound() {
  local ns=$1 port=$2 i
  for ((i = 0; i < 100; i++)); do
    [[ -n $(in_ns "$ns" ss -Hlun "sport = :$port") ]] && return 0
    sleep 0.05
  done
  return 1
}

# Starts a listener for one datagram in a namespace; what it receives lands in $tmp/<name>.
listen_one() {
  local name=$1 ns=$2 port=$3 opts=${4-}
  : >"$tmp/$name"
  timeout 10 ip netns exec "$ns" socat -u "UDP4-RECVFROM:$port,reuseaddr$opts" "OPEN:$tmp/$name,append" &
  bg+=($!)
  wait_udp_bound "$ns" "$port"
}

send_udp() {
  local ns=$1 addr=$2 port=$3 text=$4
  in_ns "$ns" bash -c 'printf "%s\n" "$3" >"/dev/udp/$1/$2"' bash "$addr" "$port" "$text" 2>/dev/null
}

# Sends until the listener has something (a datagram sent before it joined is simply lost).
got_after_send() {
  local name=$1 ns=$2 addr=$3 port=$4 text=$5 i
  for ((i = 0; i < 20; i++)); do
    send_udp "$ns" "$addr" "$port" "$text"
    sleep 0.05
    [[ -s $tmp/$name ]] && break
  done
  [[ $(head -n1 "$tmp/$name") == "$text" ]]
}

ping1() { in_ns "$1" ping -n -q -c1 -W2 "$2" >/dev/null 2>&1; }

rp_dropped() {
  in_ns "$1" awk '/^TcpExt:/ { if (!n) { for (i = 1; i <= NF; i++) if ($i == "IPReversePathFilter") c = i; n = 1 } else print $c }' /proc/net/netstat
}

sysctl_is() { [[ $(in_ns "$1" cat "/proc/sys/$2" 2>/dev/null) == "$3" ]]; }

no_default_route() { [[ -z $(ip -n "$1" route show default) ]]; }

inside() {
  trap finish_inside EXIT
  local cl=$LAB_CLIENT_NS cam1=$LAB_CAMERA_NS_1 cam2=$LAB_CAMERA_NS_2 c1 ns n i
  c1=${LAB_CAMERA_ADDRS_1%% *}
  local client=${LAB_CLIENT_ADDRS%% *}

  check "the command runs in the client namespace" [ "$(ip netns identify)" == "$cl" ]
  local have
  have=$(ip -4 -o addr show)
  for i in $LAB_CLIENT_CIDRS; do
    check "client holds $i" grep -q "inet $i " <<<"$have"
  done
  check "client has an address per network" [ "$(wc -w <<<"$LAB_CLIENT_ADDRS")" -eq 2 ]

  n=0
  for ns in $LAB_CAMERA_NS; do
    n=$((n + 1))
    local var=LAB_CAMERA_ADDRS_$n
    check "client reaches camera $n (ping)" ping1 "$cl" "${!var%% *}"
    check "camera $n reaches the client (ping)" ping1 "$ns" "$client"
  done

  listen_one to_cam "$cam1" 9000
  check "UDP from the client reaches camera 1" got_after_send to_cam "$cl" "$c1" 9000 hello
  listen_one to_client "$cl" 9001
  check "UDP from camera 1 reaches the client" got_after_send to_client "$cam1" "$client" 9001 reply

  listen_one mc1 "$cam1" 8100 ",ip-add-membership=236.5.7.22:eth0"
  listen_one mc2 "$cam2" 8100 ",ip-add-membership=236.5.7.22:eth0"
  check "multicast to 236.5.7.22 from the client reaches camera 1" got_after_send mc1 "$cl" 236.5.7.22 8100 search
  check "multicast to 236.5.7.22 from the client reaches camera 2" got_after_send mc2 "$cl" 236.5.7.22 8100 search

  local other=$LAB_OTHER_SUBNET_ADDR
  check "the client has no route to the other-subnet camera" fails_quietly ip route get "$other"
  check "unicast from the client to the other-subnet camera fails" fails_quietly ping -n -q -c1 -W1 "$other"

  # A datagram from the other subnet reaches the client's wire but not its sockets: the reverse-path
  # filter drops it. A camera's datagram to the same port afterwards must be the first one delivered.
  local before after
  before=$(rp_dropped "$cl")
  listen_one rp "$cl" 9002
  for ((i = 0; i < 20; i++)); do
    send_udp "$LAB_OTHER_NS" "$client" 9002 stray
    sleep 0.05
    after=$(rp_dropped "$cl")
    ((after > before)) && break
  done
  check "the client's kernel drops the other-subnet datagram (reverse-path filter)" [ "$after" -gt "$before" ]
  check "the client's socket gets the camera's datagram, not the dropped one" \
    got_after_send rp "$cam1" "$client" 9002 camera

  for ns in "$cl" $LAB_CAMERA_NS "$LAB_OTHER_NS" "$LAB_SWITCH_NS"; do
    if [[ -e /proc/sys/net/ipv6 ]]; then
      check "IPv6 is off in $ns" sysctl_is "$ns" net/ipv6/conf/all/disable_ipv6 1
    fi
    check "no default route in $ns" no_default_route "$ns"
  done
  check "client has no IPv6 address" [ -z "$(ip -6 -o addr show)" ]
  check "client filters reverse paths strictly" sysctl_is "$cl" net/ipv4/conf/all/rp_filter 1
  check "client's eth0 filters reverse paths strictly" sysctl_is "$cl" net/ipv4/conf/eth0/rp_filter 1
  check "client does not forward" sysctl_is "$cl" net/ipv4/ip_forward 0
  return $((fails > 0))
}

inside_many() {
  trap finish_inside EXIT
  local cl=$LAB_CLIENT_NS cam=$LAB_CAMERA_NS_1 addrs
  read -ra addrs <<<"$LAB_CAMERA_ADDRS_1"
  check "1000 camera addresses listed" [ "${#addrs[@]}" -eq 1000 ]
  check "1000 distinct addresses listed" [ "$(printf '%s\n' "${addrs[@]}" | sort -u | wc -l)" -eq 1000 ]
  check "the camera namespace holds 1000 addresses" [ "$(ip -n "$cam" -4 -o addr show dev eth0 | wc -l)" -eq 1000 ]
  local nets net a
  nets=$(printf '%s\n' "${addrs[@]}" | cut -d. -f1-3 | sort -u)
  for net in $nets; do
    check "client holds $net.1" grep -qw "$net.1" <<<"$LAB_CLIENT_ADDRS"
    a=$(printf '%s\n' "${addrs[@]}" | grep -m1 "^$net\.")
    check "client reaches $a" ping1 "$cl" "$a"
  done
  check "client reaches the last address ${addrs[999]}" ping1 "$cl" "${addrs[999]}"
  return $((fails > 0))
}

case ${1-} in
--inside) inside; exit ;;
--inside-many) inside_many; exit ;;
"") ;;
*) echo "usage: selftest.sh" >&2; exit 2 ;;
esac

# ---------------------------------------------------------------------------------------------
# From where labs are started

"$lab" check || exit

base=vlst$$
prefixes=("${base}a" "${base}b" "${base}c" "${base}d" "${base}e")
cleanup() {
  local p
  for p in "${prefixes[@]}"; do "$lab" down --prefix "$p" >/dev/null 2>&1; done
  rm -rf "$tmp"
}
trap cleanup EXIT

host_links() { ip -o link show | awk -F': ' '{print $1 ": " $2}'; }
lab_ns_of() { ip netns list | awk '{print $1}' | grep -E "^$1-" || true; }
gone() { [[ -z $(lab_ns_of "$1") ]]; }
# A zombie counts as ended: it holds no namespace, and its reaper may be slow.
removed() { [[ -n $1 && ! -e $1 ]]; }
ended() {
  local stat
  [[ -n $1 ]] || return 1
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  [[ ${stat:0:1} == Z ]]
}
all_ns() { ip netns list | awk '{print $1}' | sort; }
# Namespaces of labs whose owner has ended: what a run of ours would leave behind. Labs of
# other runs going on at the same time (their owners alive) are not ours to judge.
orphan_ns() { "$lab" list | awk '/: owner ([0-9]+ dead|unknown):/ { for (i = 4; i <= NF; i++) if ($i !~ /:$/) print $i }' | sort; }
links_before=$(host_links)
ns_before=$(all_ns)

check "a lab with two cameras, two client networks and another subnet passes its checks" \
  "$run" --cameras 2 --client-addrs 2 --other-subnet -- "$self" --inside

# A failing command, and a peer it left running in a camera namespace.
p=${prefixes[0]}
"$run" --prefix "$p" -- bash -c '
  ip netns exec "$LAB_CAMERA_NS_1" sleep 300 &
  echo $! >"$1/peer"
  [ -e "$LAB_ENV_FILE" ] && echo "$LAB_ENV_FILE" >"$1/env"
  exit 7' bash "$tmp" 2>/dev/null
rc=$?
check "lab-run returns the command's exit code" [ $rc -eq 7 ]
check "a failed command's lab is removed" gone "$p"
env_file=$(cat "$tmp/env" 2>/dev/null)
check "a failed command's env file is removed" removed "$env_file"
peer=$(cat "$tmp/peer" 2>/dev/null)
check "a peer left in a camera namespace is ended" ended "$peer"

# Interrupted while the command runs.
p=${prefixes[1]}
"$run" --prefix "$p" --cameras 0 -- sleep 60 2>/dev/null &
runner=$!
for ((i = 0; i < 200; i++)); do
  [[ -n $(ip netns pids "$p-cl" 2>/dev/null) ]] && break
  sleep 0.05
done
kill -TERM "$runner"
wait "$runner"
rc=$?
check "an interrupted run ends with the command's signal status" [ $rc -eq 143 ]
check "an interrupted run's lab is removed" gone "$p"

# Made by hand: a second start with the same prefix is refused and leaves the first lab alone.
p=${prefixes[2]}
"$lab" up --prefix "$p" --cameras 1 --owner-pid $$ >/dev/null 2>&1
check "lab.sh up makes a lab" [ "$(lab_ns_of "$p" | wc -l)" -eq 3 ]
"$lab" up --prefix "$p" --cameras 3 --owner-pid $$ >/dev/null 2>&1
check "a second up with the same prefix is refused" [ $? -eq 3 ]
"$run" --prefix "$p" -- true 2>/dev/null
check "lab-run refuses a taken prefix" [ $? -eq 3 ]
check "the refusals leave the first lab whole" [ "$(lab_ns_of "$p" | wc -l)" -eq 3 ]
check "lab.sh exec runs in a camera namespace" \
  bash -c '"$1" exec --prefix "$2" cam1 -- ip -4 -o addr show dev eth0 | grep -q "inet 198.18.0.10/24"' \
  bash "$lab" "$p"

# Stale labs: the one whose owner has ended goes, the one whose owner lives (the lab above) stays.
sh -c 'exit 0' &
dead=$!
wait "$dead"
"$lab" up --prefix "${prefixes[4]}" --cameras 0 --owner-pid "$dead" >/dev/null 2>&1
"$lab" cleanup-stale 2>/dev/null
check "cleanup-stale removes a lab whose owner has ended" gone "${prefixes[4]}"
check "cleanup-stale keeps a lab whose owner lives" [ "$(lab_ns_of "$p" | wc -l)" -eq 3 ]

"$lab" down --prefix "$p"
check "lab.sh down removes every namespace of the prefix" gone "$p"

check "a prefix that is not ours is rejected" fails_quietly "$lab" up --prefix Bad-1
check "0 addresses per camera is rejected" fails_quietly "$lab" up --prefix "${prefixes[3]}" --camera-addrs 0
check "a rejected start makes nothing" gone "${prefixes[3]}"

check "a camera namespace with 1000 addresses passes its checks" \
  "$run" --camera-addrs 1000 -- "$self" --inside-many

check "the host namespace gained no interface" [ "$(host_links)" == "$links_before" ]
check "no lab namespace is left behind" [ -z "$(comm -13 <(echo "$ns_before") <(orphan_ns))" ]

echo "selftest: $fails failure(s)"
((fails == 0))
