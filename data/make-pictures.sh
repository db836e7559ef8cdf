#!/usr/bin/env bash
# Draws the program's own pictures under data/PictureSkin (ImageMagick and the WenQuanYi font
# that scripts/setup.sh installs). Run again after changing a text here.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/PictureSkin
font=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
mkdir -p "$out"
# The video area before a camera is chosen: the name, and what to do, in the three languages.
# Drawn once at its own size and once at twice it ("@2x") for screens scaled to 200 %, where the
# first would be enlarged and soft.
background() { # scale file
  local s=$1
  convert -size $((480 * s))x$((270 * s)) gradient:'#1c2733-#0b0f14' \
    -font "$font" -fill '#e8eef4' -pointsize $((44 * s)) -gravity center -annotate +0-$((62 * s)) 'Vistrel' \
    -fill '#5b8fc7' -draw "rectangle $((190 * s)),$((112 * s)) $((290 * s + s - 1)),$((115 * s + s - 1))" \
    -fill '#aab6c2' -pointsize $((17 * s)) \
    -annotate +0+$((22 * s)) 'Double-click a camera in the list to watch it' \
    -annotate +0+$((52 * s)) '在左侧列表中双击摄像机即可观看' \
    -annotate +0+$((82 * s)) '在左側列表中雙擊攝影機即可觀看' \
    -quality 90 "$out/$2"
}
background 1 Pic_Video_Background.jpg
background 2 Pic_Video_Background@2x.jpg
# The live view's layout buttons: one, four, nine and sixteen panes, as many squares as panes,
# drawn once at its own size and once at twice it.
layout_icon() { # panes-per-side scale file
  local n=$1 s=$2 file=$3
  local size=$((20 * s)) margin=$((2 * s)) gap=$s
  local draw=""
  local c
  c=$(awk -v size="$size" -v m="$margin" -v g="$gap" -v n="$n" 'BEGIN { printf "%.3f", (size - 2 * m - (n - 1) * g) / n }')
  for ((row = 0; row < n; row++)); do
    for ((col = 0; col < n; col++)); do
      draw+=$(awk -v m="$margin" -v g="$gap" -v c="$c" -v r="$row" -v k="$col" \
        'BEGIN { x = m + k * (c + g); y = m + r * (c + g); printf "rectangle %.3f,%.3f %.3f,%.3f ", x, y, x + c - 0.5, y + c - 0.5 }')
    done
  done
  convert -size ${size}x${size} xc:none -fill '#3d5a78' -draw "$draw" "$out/$file"
}
for n in 1 2 3 4; do
  layout_icon "$n" 1 "Btn_Layout$((n * n)).png"
  layout_icon "$n" 2 "Btn_Layout$((n * n))@2x.png"
done
# The live view's "Record on this PC" button: a red dot in a ring, at its own size and twice it.
record_icon() { # scale file
  local s=$1
  convert -size $((20 * s))x$((20 * s)) xc:none -fill none -stroke '#3d5a78' -strokewidth "$s" \
    -draw "circle $((10 * s)),$((10 * s)) $((10 * s)),$((2 * s))" -stroke none -fill '#d02828' \
    -draw "circle $((10 * s)),$((10 * s)) $((10 * s)),$((5 * s))" "$out/$2"
}
record_icon 1 Btn_RecordPc.png
record_icon 2 Btn_RecordPc@2x.png
