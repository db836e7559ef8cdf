#!/usr/bin/env bash
# Draws the program's own pictures under data/PictureSkin (ImageMagick and the WenQuanYi font
# that scripts/setup.sh installs). Run again after changing a text here.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/PictureSkin
font=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
mkdir -p "$out"
# The video area before a camera is chosen: the name, and what to do, in the three languages.
convert -size 480x270 gradient:'#1c2733-#0b0f14' \
  -font "$font" -fill '#e8eef4' -pointsize 44 -gravity center -annotate +0-62 'Vistrel' \
  -fill '#5b8fc7' -draw 'rectangle 190,112 290,115' \
  -fill '#aab6c2' -pointsize 17 \
  -annotate +0+22 'Double-click a camera in the list to watch it' \
  -annotate +0+52 '在左侧列表中双击摄像机即可观看' \
  -annotate +0+82 '在左側列表中雙擊攝影機即可觀看' \
  -quality 90 "$out/Pic_Video_Background.jpg"
