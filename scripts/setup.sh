#!/usr/bin/env bash
# Installs, as root, exactly the Debian 12 packages the project builds, tests and runs with.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config clang clang-format clang-tidy
  libclang-rt-14-dev lld
  # libraries
  qt6-base-dev libgl-dev nettle-dev zlib1g-dev libpcap-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # end-to-end tests read the command-line client's JSON, and check saved streams and downloads
  jq python3
  # headless display for the GUI client
  xvfb xauth
  # the live-view lab test double-clicks a camera in the desktop client under Xvfb
  xdotool
  # network lab
  iproute2 iputils-ping socat
  # command-line client and simulator
  nlohmann-json3-dev libcli11-dev
  # media: decoding, encoding (simulator), export, overlays, speech codecs, audio devices
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libxvidcore-dev
  libgsm1-dev libbcg729-dev libspandsp-dev portaudio19-dev
  libfreetype-dev libfontconfig-dev fonts-wqy-zenhei libqt6opengl6-dev
  # Qt's own dialogs and buttons in Chinese
  qt6-translations-l10n
  # media tests: oracles, a sound server with a null sink, speech samples, wire checks
  ffmpeg imagemagick sox libsox-fmt-all espeak-ng pulseaudio pulseaudio-utils tshark
  # streams for other programs: the RTSP server, and the players that check it
  libgstrtspserver-1.0-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-tools
  # recording on the PC: the segment index
  libsqlite3-dev sqlite3
  # long runs: the memory and load plots
  gnuplot-nox
  # packages: icons drawn from the SVG, the packages' checks, setcap in the install test's root
  librsvg2-bin lintian desktop-file-utils appstream man-db libcap2-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup.sh: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup.sh: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
