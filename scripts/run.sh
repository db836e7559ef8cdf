#!/usr/bin/env bash
# Installs what is missing, builds, and runs the client. Without a display it runs headless
# under Xvfb. VISTREL_HOME (default build/home) holds Vistrel.ini, CameraType.ini and logs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release

export VISTREL_HOME=${VISTREL_HOME:-$root/build/home}
mkdir -p "$VISTREL_HOME"
for f in Vistrel.ini CameraType.ini; do
  [[ -f $VISTREL_HOME/$f ]] || cp "$root/data/$f" "$VISTREL_HOME/$f"
done

client=("$root/build/release/src/app/vistrel" "$@")
headless_args=(--close-after 10000)
if [[ -n ${DISPLAY:-} || ${QT_QPA_PLATFORM:-} == offscreen ]]; then
  exec "${client[@]}"
fi
exec xvfb-run -a "${client[@]}" "${headless_args[@]}"
