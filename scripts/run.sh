#!/usr/bin/env bash
# Installs what is missing, builds, and runs the client. The client sweeps its /24 networks and
# multicasts on every interface as soon as it starts, so it runs only inside a network lab made
# for this run (root needed), next to a camera namespace where the simulator plays the example
# cameras (a recorder with four channels, one with a password, one enciphered). It first prints
# what "vistrel-cli search" finds, then runs the desktop client in the same lab. Without a
# display the desktop client runs headless under Xvfb and closes after 10 seconds.
# VISTREL_HOME (default build/home) holds Vistrel.ini, CameraType.ini, the logs and camsim.log;
# VISTREL_SCENARIO picks another simulator scenario.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release

export VISTREL_HOME=${VISTREL_HOME:-$root/build/home}
mkdir -p "$VISTREL_HOME"
for f in Vistrel.ini CameraType.ini; do
  [[ -f $VISTREL_HOME/$f ]] || cp "$root/data/$f" "$VISTREL_HOME/$f"
done
cp -r "$root/data/PictureSkin" "$VISTREL_HOME/"
# The client creates the video decoder by class id from the class registry in VISTREL_HOME.
"$root/build/release/tools/regsvr/vistrel-regsvr" "$root/build/release/src/filter/libZebH264Filter.so" >/dev/null

export VISTREL_CLIENT=$root/build/release/src/app/vistrel
export VISTREL_CLI=$root/build/release/src/app/cli/vistrel-cli
export VISTREL_CAMSIM=$root/build/release/tools/camsim/vistrel-camsim
export VISTREL_SCENARIO=${VISTREL_SCENARIO:-$root/tools/camsim/examples/basic.json}
export VISTREL_HEADLESS=1
[[ -n ${DISPLAY:-} || ${QT_QPA_PLATFORM:-} == offscreen ]] && VISTREL_HEADLESS=0

# Runs in the lab's client namespace; the lab and whatever still runs in it go away afterwards.
in_lab='
  ip netns exec "$LAB_CAMERA_NS_1" "$VISTREL_CAMSIM" --scenario "$VISTREL_SCENARIO" \
    --addresses "$LAB_CAMERA_ADDRS_1" >"$VISTREL_HOME/camsim.log" 2>&1 &
  sim=$!
  sleep 1
  "$VISTREL_CLI" search --seconds 4 || echo "run.sh: vistrel-cli search failed ($?)" >&2
  if ((VISTREL_HEADLESS)); then
    xvfb-run -a "$VISTREL_CLIENT" "$@" --close-after 10000
  else
    "$VISTREL_CLIENT" "$@"
  fi
  rc=$?
  kill "$sim" 2>/dev/null
  wait "$sim" 2>/dev/null
  exit $rc'

set +e
"$root/scripts/lab/lab-run.sh" --cameras 1 --camera-addrs 3 -- bash -c "$in_lab" vistrel "$@"
rc=$?
if ((rc == 77)); then
  echo "run.sh: the client runs only inside the network lab, which this machine cannot host" \
    "(run as root, with network namespaces)" >&2
fi
exit $rc
