#!/usr/bin/env bash
# The network lab: network namespaces joined by a bridge, addressed from 198.18.0.0/15, with nothing
# attached to the namespace this script is started from. The client's sweeps, multicasts and
# captures run only in here.
#
#   lab.sh up --prefix P [--cameras N] [--camera-addrs M] [--client-addrs N] [--client-links L]
#                        [--other-subnet] [--owner-pid PID] [--env-file FILE]
#   lab.sh down --prefix P
#   lab.sh exec --prefix P <client|camN|other|switch> -- command...
#   lab.sh list
#   lab.sh cleanup-stale
#   lab.sh check
#
# Exit codes: 0 done, 1 failure, 2 usage, 3 a lab with that prefix exists, 77 this machine cannot
# host a lab (not root, or no network namespaces).
set -euo pipefail

LAB_HOME=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
readonly LAB_HOME
readonly MARK=vistrel-lab
readonly PREFIX_RE='^[a-z][a-z0-9]{1,11}$'
readonly NS_SUFFIX_RE='(sw|cl|cam[0-9]+|oth)'
# Camera hosts start at .10 so that .2 to .9 stay free for peers a test adds by hand; .1 is the client.
readonly CAM_FIRST_HOST=10
readonly CAM_HOSTS_PER_NET=245
readonly MAX_NETS=64
readonly OTHER_ADDR=198.19.5.10
readonly EX_USAGE=2 EX_EXISTS=3 EX_SKIP=77

die() {
  echo "lab: $*" >&2
  exit 1
}
usage() {
  sed -n '6,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit $EX_USAGE
}
skip() {
  echo "lab: skipped: $*" >&2
  exit $EX_SKIP
}

check_env() {
  [[ $(id -u) -eq 0 ]] || skip "the network lab needs root (it creates network namespaces)"
  command -v ip >/dev/null || skip "'ip' (iproute2) is not installed"
  ip netns list >/dev/null 2>&1 || skip "'ip netns' is not available here"
}

valid_prefix() {
  [[ $1 =~ $PREFIX_RE ]] || die "bad prefix '$1': 2 to 12 characters, a-z and 0-9, starting with a letter"
}

env_file_for() { echo "${LAB_ENV_DIR:-$LAB_HOME/build/lab}/$1.env"; }

# Names of every namespace of our scheme, one per line.
all_lab_namespaces() {
  ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^[a-z][a-z0-9]{1,11}-${NS_SUFFIX_RE}\$" || true
}
lab_namespaces() { all_lab_namespaces | grep -E "^$1-${NS_SUFFIX_RE}\$" || true; }
all_prefixes() { all_lab_namespaces | sed -E "s/-${NS_SUFFIX_RE}\$//" | sort -u; }

# Process start time in clock ticks, so a recycled pid is not taken for the lab's owner.
proc_start() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  # shellcheck disable=SC2086
  set -- $stat
  echo "${20}"
}

# Writes sysctls inside a lab namespace. IPv6 keys are skipped on kernels without IPv6.
ns_sysctl() {
  local ns=$1
  shift
  # shellcheck disable=SC2016 # expanded by the inner shell
  ip netns exec "$ns" bash -c '
    for kv; do
      k=${kv%%=*} v=${kv#*=}
      f=/proc/sys/${k//.//}
      if [[ ! -e $f ]]; then
        [[ $k == net.ipv6.* ]] && continue
        echo "lab: missing sysctl $k" >&2
        exit 1
      fi
      printf %s "$v" >"$f" || exit 1
    done' bash "$@"
}

# Owner record kept on the switch namespace's loopback, so it disappears with the lab.
owner_of() {
  local line
  line=$(ip -n "$1-sw" -o link show lo 2>/dev/null) || return 1
  [[ $line =~ alias\ $MARK\ owner=([0-9]+)\ start=([0-9]*) ]] || return 1
  echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
}

owner_alive() {
  local pid=$1 start=${2-} now
  [[ -d /proc/$pid ]] || return 1
  [[ -z $start ]] && return 0
  now=$(proc_start "$pid") || return 1
  [[ $now == "$start" ]]
}

# Ends what still runs inside a lab namespace (peers a test left behind), then removes it.
# Our own process chain is spared, so a teardown started from inside the lab cannot kill itself.
spare=
remove_namespace() {
  local ns=$1 p pids=() i
  if [[ -z $spare ]]; then
    spare=" "
    p=$$
    while [[ $p =~ ^[0-9]+$ && $p -gt 1 ]]; do
      spare+="$p "
      local key val next=
      while read -r key val; do [[ $key == PPid: ]] && next=$val && break; done <"/proc/$p/status" 2>/dev/null || true
      p=$next
    done
  fi
  for p in $(ip netns pids "$ns" 2>/dev/null); do
    [[ $spare == *" $p "* ]] || pids+=("$p")
  done
  if ((${#pids[@]})); then
    kill -TERM "${pids[@]}" 2>/dev/null || true
    # A process that has exited (zombies included) no longer holds the namespace.
    for ((i = 0; i < 20; i++)); do
      local alive=0
      for p in "${pids[@]}"; do readlink "/proc/$p/ns/net" >/dev/null 2>&1 && alive=1; done
      ((alive)) || break
      sleep 0.05
    done
    kill -KILL "${pids[@]}" 2>/dev/null || true
  fi
  ip netns del "$ns" 2>/dev/null || [[ ! -e /run/netns/$ns ]]
}

down_prefix() {
  local prefix=$1 ns rc=0
  for ns in $(lab_namespaces "$prefix"); do
    remove_namespace "$ns" || {
      echo "lab: could not remove namespace $ns" >&2
      rc=1
    }
  done
  rm -f "$(env_file_for "$prefix")"
  return $rc
}

# ---------------------------------------------------------------------------------------------
# up

created=()
up_env_file=
up_failed() {
  local ns
  for ns in "${created[@]}"; do remove_namespace "$ns" || true; done
  [[ -n $up_env_file ]] && rm -f "$up_env_file"
}

add_namespace() {
  local ns=$1
  if ! ip netns add "$ns" 2>/dev/null; then
    [[ -e /run/netns/$ns ]] && {
      echo "lab: namespace $ns exists already; refusing to start" >&2
      exit $EX_EXISTS
    }
    ((${#created[@]})) || skip "cannot create network namespaces here"
    die "cannot create namespace $ns"
  fi
  created+=("$ns")
}

posint() {
  if [[ ! $2 =~ ^[0-9]+$ ]] || (($2 < $3 || $2 > $4)); then
    die "$1 wants a number from $3 to $4, not '$2'"
  fi
}

cmd_up() {
  local prefix='' cameras=1 cam_addrs=1 client_addrs=1 client_links=1 other=0 owner=$PPID env_file=''
  while (($#)); do
    case $1 in
    --prefix) prefix=${2-}; shift 2 || usage ;;
    --cameras) cameras=${2-}; shift 2 || usage ;;
    --camera-addrs) cam_addrs=${2-}; shift 2 || usage ;;
    --client-addrs) client_addrs=${2-}; shift 2 || usage ;;
    --client-links) client_links=${2-}; shift 2 || usage ;;
    --other-subnet) other=1; shift ;;
    --owner-pid) owner=${2-}; shift 2 || usage ;;
    --env-file) env_file=${2-}; shift 2 || usage ;;
    *) usage ;;
    esac
  done
  [[ -n $prefix ]] || usage
  valid_prefix "$prefix"
  posint --cameras "$cameras" 0 250
  posint --camera-addrs "$cam_addrs" 1 4000
  posint --client-addrs "$client_addrs" 1 $MAX_NETS
  posint --client-links "$client_links" 1 8
  [[ $owner =~ ^[0-9]+$ ]] || die "--owner-pid wants a pid"
  check_env

  local total=$((cameras * cam_addrs))
  local nets=$(((total + CAM_HOSTS_PER_NET - 1) / CAM_HOSTS_PER_NET))
  ((nets <= MAX_NETS)) || die "$total camera addresses do not fit into $MAX_NETS /24 networks"
  # The client sweeps its own /24s only, so it holds .1 in every /24 a camera lives in.
  local nclient=$client_addrs
  ((nets > nclient)) && nclient=$nets
  ((client_links > nclient)) && nclient=$client_links

  if [[ -n $(lab_namespaces "$prefix") ]]; then
    echo "lab: a lab with prefix '$prefix' exists already; refusing to start" >&2
    exit $EX_EXISTS
  fi
  [[ -n $env_file ]] || env_file=$(env_file_for "$prefix")

  trap 'up_failed' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP

  local sw=$prefix-sw cl=$prefix-cl oth=$prefix-oth ns i j
  local cams=()
  add_namespace "$sw"
  ip -n "$sw" link set lo alias "$MARK owner=$owner start=$(proc_start "$owner" || true)"
  add_namespace "$cl"
  for ((i = 1; i <= cameras; i++)); do
    add_namespace "$prefix-cam$i"
    cams+=("$prefix-cam$i")
  done
  ((other)) && add_namespace "$oth"

  # Settings first, so that interfaces made afterwards inherit them. IPv4 defaults are copied from
  # the host when a namespace is made, hence everything that matters is set explicitly.
  local base=(net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 net.ipv4.ip_forward=0
    net.ipv4.conf.all.arp_filter=0 net.ipv4.conf.default.arp_filter=0)
  for ns in "${created[@]}"; do
    local rp=0 arp_ignore=0 arp_announce=0
    # The client filters like a typical PC: strict reverse-path checks drop what only a packet
    # capture still sees. With several links on one switch, each link answers ARP only for its own
    # addresses; otherwise a camera may learn the wrong link's MAC and the filter drops its replies.
    [[ $ns == "$cl" ]] && rp=1 arp_ignore=1 arp_announce=2
    ns_sysctl "$ns" "${base[@]}" \
      net.ipv4.conf.all.rp_filter=$rp net.ipv4.conf.default.rp_filter=$rp \
      net.ipv4.conf.all.arp_ignore=$arp_ignore net.ipv4.conf.default.arp_ignore=$arp_ignore \
      net.ipv4.conf.all.arp_announce=$arp_announce net.ipv4.conf.default.arp_announce=$arp_announce
  done

  # The switch floods multicast as an unmanaged switch does; snooping would make delivery depend on
  # IGMP timers.
  ip -n "$sw" link add br0 type bridge stp_state 0 mcast_snooping 0

  # Veth pairs are made with one end straight in the lab namespace and the other straight in the
  # switch namespace; neither end ever exists in the namespace this script runs in.
  local ports=()
  for ((j = 0; j < client_links; j++)); do
    ip -n "$cl" link add "eth$j" type veth peer name "cl$j" netns "$sw"
    ports+=("cl$j")
  done
  for ((i = 1; i <= cameras; i++)); do
    ip -n "$prefix-cam$i" link add eth0 type veth peer name "cam$i" netns "$sw"
    ports+=("cam$i")
  done
  if ((other)); then
    ip -n "$oth" link add eth0 type veth peer name oth netns "$sw"
    ports+=(oth)
  fi
  {
    echo "link set lo up"
    echo "link set br0 up"
    printf 'link set %s master br0 up\n' "${ports[@]}"
  } | ip -n "$sw" -batch -

  local client_ifs=() client_addr_list=() client_cidrs=() client_addr_ifs=()
  for ((j = 0; j < client_links; j++)); do client_ifs+=("eth$j"); done
  for ((i = 0; i < nclient; i++)); do
    client_addr_list+=("198.18.$i.1")
    client_cidrs+=("198.18.$i.1/24")
    client_addr_ifs+=("eth$((i % client_links))")
  done
  local rp_ifs=()
  for j in "${client_ifs[@]}"; do rp_ifs+=("net.ipv4.conf.$j.rp_filter=1"); done
  ns_sysctl "$cl" "${rp_ifs[@]}"
  {
    echo "link set lo up"
    for ((j = 0; j < client_links; j++)); do echo "link set eth$j up"; done
    for ((i = 0; i < nclient; i++)); do echo "addr add ${client_cidrs[i]} dev ${client_addr_ifs[i]}"; done
    for ((j = 0; j < client_links; j++)); do echo "route add 224.0.0.0/4 dev eth$j metric $j"; done
  } | ip -n "$cl" -batch -

  local cam_lists=() n=0
  for ((i = 1; i <= cameras; i++)); do
    local addrs=()
    for ((j = n; j < n + cam_addrs; j++)); do
      addrs+=("198.18.$((j / CAM_HOSTS_PER_NET)).$((CAM_FIRST_HOST + j % CAM_HOSTS_PER_NET))")
    done
    n=$((n + cam_addrs))
    {
      echo "link set lo up"
      echo "link set eth0 up"
      printf 'addr add %s/24 dev eth0\n' "${addrs[@]}"
      echo "route add 224.0.0.0/4 dev eth0"
    } | ip -n "$prefix-cam$i" -batch -
    cam_lists+=("${addrs[*]}")
  done

  if ((other)); then
    local macs=() line
    for j in "${client_ifs[@]}"; do
      line=$(ip -n "$cl" -o link show "$j")
      [[ $line =~ link/ether\ ([0-9a-f:]+) ]] || die "no MAC on $cl $j"
      macs+=("${BASH_REMATCH[1]}")
    done
    {
      echo "link set lo up"
      echo "link set eth0 up"
      echo "addr add $OTHER_ADDR/24 dev eth0"
      echo "route add 224.0.0.0/4 dev eth0"
      # It may also address the client directly by its MAC, as a misconfigured camera would; the
      # client has no route back, so only its capture sees such a packet.
      echo "route add 198.18.0.0/16 dev eth0 scope link"
      for ((i = 0; i < nclient; i++)); do
        echo "neigh replace ${client_addr_list[i]} lladdr ${macs[i % client_links]} dev eth0 nud permanent"
      done
    } | ip -n "$oth" -batch -
  fi

  mkdir -p "$(dirname "$env_file")"
  {
    echo "LAB_PREFIX='$prefix'"
    echo "LAB_SWITCH_NS='$sw'"
    echo "LAB_CLIENT_NS='$cl'"
    echo "LAB_CLIENT_IFS='${client_ifs[*]}'"
    echo "LAB_CLIENT_ADDRS='${client_addr_list[*]}'"
    echo "LAB_CLIENT_CIDRS='${client_cidrs[*]}'"
    echo "LAB_CLIENT_ADDR_IFS='${client_addr_ifs[*]}'"
    echo "LAB_CAMERA_COUNT='$cameras'"
    echo "LAB_CAMERA_NS='${cams[*]}'"
    echo "LAB_CAMERA_IF='eth0'"
    for ((i = 1; i <= cameras; i++)); do
      echo "LAB_CAMERA_NS_$i='${cams[i - 1]}'"
      echo "LAB_CAMERA_ADDRS_$i='${cam_lists[i - 1]}'"
    done
    if ((other)); then
      echo "LAB_OTHER_NS='$oth'"
      echo "LAB_OTHER_SUBNET_ADDR='$OTHER_ADDR'"
      echo "LAB_OTHER_SUBNET_CIDR='$OTHER_ADDR/24'"
    fi
    echo "LAB_ENV_FILE='$env_file'"
  } >"$env_file.tmp"
  mv -f "$env_file.tmp" "$env_file"
  up_env_file=$env_file

  trap - EXIT INT TERM HUP
  echo "lab: up: prefix $prefix, client $cl (${client_cidrs[*]}), $cameras camera namespace(s) with" \
    "$cam_addrs address(es) each$( ((other)) && echo ", other subnet $oth ($OTHER_ADDR/24)"); env: $env_file" >&2
  cat "$env_file"
}

# ---------------------------------------------------------------------------------------------

prefix_arg() {
  [[ ${1-} == --prefix && -n ${2-} ]] || usage
  valid_prefix "$2"
}

cmd_down() {
  prefix_arg "$@"
  check_env
  down_prefix "$2"
}

cmd_exec() {
  prefix_arg "${@:1:2}"
  local prefix=$2 role=${3-} ns
  shift 3 || usage
  [[ ${1-} == -- ]] && shift
  (($#)) || usage
  case $role in
  client) ns=$prefix-cl ;;
  switch) ns=$prefix-sw ;;
  other) ns=$prefix-oth ;;
  cam[0-9]*) ns=$prefix-$role ;;
  *) usage ;;
  esac
  check_env
  [[ -e /run/netns/$ns ]] || die "no namespace $ns"
  local env_file
  env_file=$(env_file_for "$prefix")
  if [[ -r $env_file ]]; then
    set -a
    # shellcheck disable=SC1090
    . "$env_file"
    set +a
  fi
  exec ip netns exec "$ns" "$@"
}

cmd_list() {
  check_env
  local prefix owner state
  for prefix in $(all_prefixes); do
    state="owner unknown"
    if owner=$(owner_of "$prefix"); then
      # shellcheck disable=SC2086
      if owner_alive $owner; then state="owner ${owner%% *} alive"; else state="owner ${owner%% *} dead"; fi
    fi
    echo "$prefix: $state: $(lab_namespaces "$prefix" | tr '\n' ' ')"
  done
}

cmd_cleanup_stale() {
  check_env
  local prefix owner
  for prefix in $(all_prefixes); do
    if ! owner=$(owner_of "$prefix"); then
      # Killed between making the namespaces and recording the owner: the wrapper's prefixes carry
      # its pid.
      if [[ $prefix =~ ^vl([0-9]+)[a-z]+$ ]]; then
        owner="${BASH_REMATCH[1]} "
      else
        echo "lab: $prefix has no owner record; left alone (lab.sh down --prefix $prefix removes it)" >&2
        continue
      fi
    fi
    # shellcheck disable=SC2086
    owner_alive $owner && continue
    echo "lab: removing stale lab $prefix (owner ${owner%% *} has ended)" >&2
    down_prefix "$prefix" || true
  done
}

case ${1-} in
up) shift; cmd_up "$@" ;;
down) shift; cmd_down "$@" ;;
exec) shift; cmd_exec "$@" ;;
list) cmd_list ;;
cleanup-stale) cmd_cleanup_stale ;;
check) check_env ;;
*) usage ;;
esac
