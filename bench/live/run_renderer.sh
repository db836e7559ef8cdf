#!/usr/bin/env bash
# The pane's window (QWidget painting a QImage) against a QOpenGLWidget uploading a texture, for
# 1280x720 and 1920x1080 pictures shown in a 1024x576 window, under an Xvfb of its own: wall and
# CPU time per frame of the program and of the display server. Xvfb has no GPU: OpenGL is Mesa's
# llvmpipe, on the CPU. First the pane's YUV converter at the wall's pane sizes against the
# decoder's whole-picture conversion that came before it (no display needed).
#   bench/live/run_renderer.sh <build tree> [frames]
set -uo pipefail
build=$1 frames=${2:-200}
bench=$build/bench/live/renderer_bench
for size in "1280 720" "1920 1080"; do "$bench" convert $size "$frames"; done
display=
for n in $(seq 150 199); do [[ -e /tmp/.X$n-lock ]] || { display=$n; break; }; done
[[ -n $display ]] || { echo "no free display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
export DISPLAY=:$display
ticks() { awk '{ print $14 + $15 }' "/proc/$xvfb/stat"; }
hz=$(getconf CLK_TCK)
for size in "1280 720" "1920 1080"; do
  for mode in widget gl; do
    x0=$(ticks)
    out=$("$bench" "$mode" $size 1024 576 "$frames" 2>/dev/null)
    x1=$(ticks)
    echo "$out" | head -1
    echo "$out" | sed -n 2p
    awk -v t="$((x1 - x0))" -v hz="$hz" -v n="$frames" \
      'BEGIN { printf "  Xvfb CPU %.2f ms/frame (warm-up included)\n", 1000 * t / hz / n }'
  done
done
