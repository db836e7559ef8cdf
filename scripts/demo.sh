#!/usr/bin/env bash
# The demo: builds the client, the command-line client and the camera simulator, makes a
# network lab, starts a handful of simulated cameras in it (one recorder with channels, one
# with a password, one that speaks only the enciphered protocol) and prints what
# "vistrel-cli search" finds. With a display it then offers the desktop client in the same
# lab. Needs root for the lab (network namespaces); nothing leaves the lab.
#
#   scripts/demo.sh [--no-build] [--gui | --no-gui]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

build=1 gui=ask
for arg in "$@"; do
  case $arg in
  --no-build) build=0 ;;
  --gui) gui=yes ;;
  --no-gui) gui=no ;;
  -h | --help)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "demo.sh: unknown option $arg" >&2
    exit 2
    ;;
  esac
done

if ((build)); then
  "$root/scripts/setup.sh"
  "$root/scripts/build.sh" release
fi
bin=${VISTREL_DEMO_BIN:-$root/build/release}
for f in "$bin/src/app/cli/vistrel-cli" "$bin/tools/camsim/vistrel-camsim"; do
  [[ -x $f ]] || { echo "demo.sh: $f is missing; run without --no-build" >&2; exit 1; }
done

if ((EUID != 0)); then
  echo "demo.sh: the network lab needs root; run it with sudo" >&2
  exit 1
fi

# Everything the lab command needs travels in the environment.
export DEMO_ROOT=$root DEMO_BIN=$bin DEMO_GUI=$gui
export DEMO_DISPLAY=${DISPLAY:-} DEMO_XAUTHORITY=${XAUTHORITY:-}

# shellcheck disable=SC2016 # expanded inside the lab
exec "$root/scripts/lab/lab-run.sh" --camera-addrs 4 -- bash -c '
set -euo pipefail
work=$(mktemp -d)
trap "kill \$sim 2>/dev/null; wait \$sim 2>/dev/null; rm -rf \"\$work\"" EXIT

export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$DEMO_ROOT/data/Vistrel.ini" "$DEMO_ROOT/data/CameraType.ini" "$VISTREL_HOME/"
cp -r "$DEMO_ROOT/data/PictureSkin" "$VISTREL_HOME/"
"$DEMO_BIN/tools/regsvr/vistrel-regsvr" "$DEMO_BIN/src/filter/libZebH264Filter.so" >/dev/null

cat >"$work/demo.json" <<JSON
{ "seed": 42,
  "cameras": [
    { "id": 4660, "serial": "VS0001", "name": "Front door", "firmware": "2.1.0", "sensor_id": 16, "wifi": true },
    { "id": 4661, "serial": "VS0002", "name": "Office", "password": "demo", "encrypt_version": 1, "sensor_id": 8 },
    { "id": 4662, "serial": "VS0003", "name": "Vault", "cipher": "encrypted", "sensor_id": 2 },
    { "id": 500, "serial": "NVR0001", "name": "Recorder", "channels": 4 }
  ] }
JSON

ip netns exec "$LAB_CAMERA_NS_1" "$DEMO_BIN/tools/camsim/vistrel-camsim" --scenario "$work/demo.json" \
  --addresses "$LAB_CAMERA_ADDRS_1" --control "$work/camsim.sock" >"$work/camsim.log" 2>&1 &
sim=$!
for _ in $(seq 50); do [[ -S $work/camsim.sock ]] && break; sleep 0.1; done

echo "Simulated cameras at $LAB_CAMERA_ADDRS_1; the client is at $LAB_CLIENT_ADDRS."
echo
"$DEMO_BIN/src/app/cli/vistrel-cli" search --seconds 3
echo

want_gui=$DEMO_GUI
if [[ -z $DEMO_DISPLAY ]]; then
  [[ $want_gui == yes ]] && echo "No display: the desktop client is not started."
  want_gui=no
elif [[ $want_gui == ask ]]; then
  read -r -p "Start the desktop client in this lab? [y/N] " answer </dev/tty || answer=n
  [[ $answer == [yY]* ]] && want_gui=yes || want_gui=no
fi
if [[ $want_gui == yes ]]; then
  DISPLAY=$DEMO_DISPLAY XAUTHORITY=$DEMO_XAUTHORITY "$DEMO_BIN/src/app/vistrel" || true
fi
'
