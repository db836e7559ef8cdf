#!/usr/bin/env bash
# Start-up with a taken port, and with and without the language dialog, inside the network lab
# (lab-run.sh):
#   test_startup_lab.sh <ui_startup_lab> <data folder>
set -uo pipefail
test_bin=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VISTREL_HOME=$work/home
mkdir -p "$VISTREL_HOME"
cp "$data/CameraType.ini" "$VISTREL_HOME/"
cp -r "$data/PictureSkin" "$VISTREL_HOME/"
export QT_QPA_PLATFORM=offscreen
# Each start-up in a process of its own, as the program runs it.
for show in 0 1; do
  printf '[DEBUG]\nlevel=0\n[LANGUAGE]\nID=9\nShowDialogue=%s\n' "$show" >"$VISTREL_HOME/Vistrel.ini"
  if [[ $show == 0 ]]; then
    "$test_bin" --gtest_filter='StartupLab.OccupiedPortEndsStartupWithTheLocalisedMessage' || exit 1
  fi
  STARTUP_SHOW_DIALOGUE=$show "$test_bin" --gtest_filter='StartupLab.LanguageIsOfferedBeforeTheMainWindowOnlyWhenAsked' ||
    exit 1
done
