#!/usr/bin/env bash
# Start-up with a taken port, inside the network lab (lab-run.sh):
#   test_startup_lab.sh <ui_startup_lab> <data folder>
set -uo pipefail
test_bin=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
printf '[DEBUG]\nlevel=0\n[LANGUAGE]\nID=9\nShowDialogue=0\n' >"$VISTREL_HOME/Vistrel.ini"
export QT_QPA_PLATFORM=offscreen
"$test_bin"
