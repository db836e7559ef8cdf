#!/usr/bin/env bash
# The desktop client's wall of panes in the network lab under Xvfb (label ui lab), with four
# cameras whose pictures have four different shapes (2:3, 4:3, 16:9, 1:1), so that a pane shows
# by its picture's shape whose video it is:
#  - a 2x2 wall and three of its cameras come from Vistrel.ini as the cameras appear; the fourth
#    is double-clicked in the list into the free pane; each pane shows its own camera's picture;
#  - a camera taken offline stops its own pane only (its picture stands, the others' move) and
#    the pane's message names it;
#  - closed by SIGTERM and started again, the client shows the same wall with the same cameras.
#   lab_grid.sh <vistrel> <vistrel-camsim> <vistrel-regsvr> <decoder module> <data dir>
set -uo pipefail
client=$1 sim=$2 regsvr=$3 module=$4 data=$5
work=$(mktemp -d)
pid=
failures=0
cleanup() {
  [[ -n $pid ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  if ((failures)); then
    echo "--- simulator"; tail -n 20 "$work/sim.out" 2>/dev/null
    echo "--- client"; tail -n 20 "$work"/client*.out 2>/dev/null
    echo "--- panes"; cat "$work"/panes.* 2>/dev/null
    echo "--- client log"; grep -h "CDlgVideoGrid\|CDlgMain" "$work"/home/DebugInfo.*.log 2>/dev/null | tail -n 40
  fi
  [[ -n ${VISTREL_SCREENSHOT_DIR:-} ]] && mkdir -p "$VISTREL_SCREENSHOT_DIR" && cp "$work"/*.png "$VISTREL_SCREENSHOT_DIR/" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

export VISTREL_HOME=$work/home XDG_RUNTIME_DIR=$work/run VISTREL_PANE_MAP=$work/panes
mkdir -p "$VISTREL_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$data/CameraType.ini" "$data/Vistrel.ini" "$VISTREL_HOME/"
cp -r "$data/PictureSkin" "$VISTREL_HOME/"
sed -i 's/^level=.*/level=3/' "$VISTREL_HOME/Vistrel.ini"
printf '\n[LIVEGRID]\nlayout=4\npane0=VGA\npane1=VGB\npane2=VGC\n' >>"$VISTREL_HOME/Vistrel.ini"
"$regsvr" "$module" >/dev/null || { echo "FAIL: registering the decoder"; exit 1; }

read -r a1 a2 a3 a4 _ <<<"$LAB_CAMERA_ADDRS_1"
# Delta has the smallest id: the first row of the list, the one double-clicked.
camera() { # address id serial name width height
  printf '{ "address": "%s", "id": %d, "serial": "%s", "name": "%s", "media": { "codec": "h264", "width": %d, "height": %d, "fps": 15, "kbps": 400, "gop": 15 } }' "$@"
}
cat >"$work/scenario.json" <<JSON
{ "seed": 29, "cameras": [ $(camera "$a1" 7301 VGD Delta 320 480), $(camera "$a2" 7302 VGA Alpha 640 480),
                           $(camera "$a3" 7303 VGB Bravo 1280 720), $(camera "$a4" 7304 VGC Charlie 480 480) ] }
JSON
ip netns exec "$LAB_CAMERA_NS_1" "$sim" --scenario "$work/scenario.json" --addresses "$LAB_CAMERA_ADDRS_1" \
  --control "$work/ctl" >"$work/sim.out" 2>&1 &
pid=$!

# One run of the client: "first" double-clicks Delta, shoots, takes Bravo offline and shoots
# twice; "again" only shoots. Both close the client by SIGTERM.
run() { # first|again
  xvfb-run -a -n $((200 + RANDOM % 500)) -s "-screen 0 1280x800x24" bash -c '
    client=$0 work=$1 sim=$2 step=$3
    log() { cat "$work"/home/DebugInfo.*.log 2>/dev/null; }
    live() { "$sim" --send "$work/ctl" media "$1" | jq -e ".media.streams.live.active" >/dev/null; }
    panes() { [[ $(awk "/^videoPane/ { printf \"%s \", \$6 }" "$work/panes" 2>/dev/null) == "$1" ]]; }
    "$client" --close-after 600000 >"$work/client.$step.out" 2>&1 &
    client=$!
    for _ in $(seq 300); do
      win=$(xdotool search --name "^Vistrel" 2>/dev/null | head -1)
      [[ -n $win ]] && break
      kill -0 $client 2>/dev/null || break
      sleep 0.2
    done
    # A client that never showed its window has nothing to look at: its exit is the finding.
    [[ -n $win ]] || { kill -TERM $client 2>/dev/null; wait $client; echo $? >"$work/client.$step.exit"; exit; }
    if [[ $step == first ]]; then
      # The restored three, then Delta double-clicked into the free pane.
      for _ in $(seq 100); do panes "7302 7303 7304 0 " && break; sleep 0.2; done
      eval "$(xdotool getwindowgeometry --shell "$win")"
      for _ in 1 2 3; do
        xdotool mousemove $((X + 100)) $((Y + 48)) click --repeat 2 --delay 80 1
        for _ in $(seq 25); do panes "7302 7303 7304 7301 " && break 2; sleep 0.2; done
      done
    fi
    for _ in $(seq 100); do panes "7302 7303 7304 7301 " && break; sleep 0.2; done
    for serial in VGA VGB VGC VGD; do
      for _ in $(seq 100); do live $serial && break; sleep 0.2; done
    done
    sleep 4
    cp "$work/panes" "$work/panes.$step"
    import -window root "$work/$step.png"
    # A second look a second later: a pane caught between two layouts is told from one that
    # shows the wrong picture (check_shapes).
    sleep 1
    import -window root "$work/$step.later.png"
    if [[ $step == first ]]; then
      "$sim" --send "$work/ctl" offline VGB >/dev/null
      for _ in $(seq 200); do log | grep -q "StopCamera: id:7303" && break; sleep 0.2; done
      sleep 1
      import -window root "$work/offline1.png"
      sleep 1
      import -window root "$work/offline2.png"
    fi
    kill -TERM $client
    wait $client
    echo $? >"$work/client.$step.exit"' "$client" "$work" "$sim" "$1"
}

# The picture's extent along a line of pixels: the longest stretch of pixels that are not the
# black of the bars beside it, dark stripes of the picture itself (under 16 pixels) bridged.
span() { # png geometry
  convert "$1" -crop "$2" +repage -colorspace Gray -depth 8 txt:- 2>/dev/null |
    sed -n 's/^[0-9]*,[0-9]*: (\([0-9.]*\).*/\1/p' |
    awk '$1 > 8 { if (start == "" || NR - last > 16) start = NR; last = NR; if (last - start + 1 > best) best = last - start + 1 }
         END { print best + 0 }'
}
# The lit width of a picture's middle row and height of its middle column, in a pane's area.
shape() { # png x y w h
  echo "$(span "$1" "${4}x1+${2}+$(($3 + $5 / 2))") $(span "$1" "1x${5}+$(($2 + $4 / 2))+${3}")"
}
# Each pane's picture has its camera's shape: width/height within 8 % of the camera's, in the
# first shot or, should a pane be caught mid-layout there, in the one a second later (which the
# output names, so that a pane slow to settle is seen).
check_shapes() { # png panes-file label
  local -A want=([7301]=667 [7302]=1333 [7303]=1778 [7304]=1000)
  local png lw lh ratio expect shot
  while read -r name x y w h id; do
    [[ $name == videoPane* ]] || continue
    expect=${want[$id]:-0}
    for png in "$1" "${1%.png}.later.png"; do
      [[ -f $png ]] || continue
      read -r lw lh < <(shape "$png" "$x" "$y" "$w" "$h")
      ratio=$((lh > 0 ? lw * 1000 / lh : 0)) shot=${png##*/}
      echo "$3: $name shows $id, picture ${lw}x${lh} (ratio $ratio, camera's $expect) in $shot"
      ((expect > 0 && ratio * 100 >= expect * 92 && ratio * 100 <= expect * 108)) && continue 2
    done
    fail "$3: $name does not show camera $id's picture (${lw}x${lh})"
  done <"$2"
}
changed() { # png png x y w h
  compare -metric AE -fuzz 5% "$1[${5}x${6}+${3}+${4}]" "$2[${5}x${6}+${3}+${4}]" null: 2>&1 | cut -d' ' -f1 | cut -d. -f1
}

run first
[[ $(cat "$work/client.first.exit" 2>/dev/null) == 0 ]] || fail "first run ended with $(cat "$work/client.first.exit" 2>/dev/null)"
if [[ -f $work/first.png && -f $work/panes.first ]]; then
  check_shapes "$work/first.png" "$work/panes.first" "2x2"
else
  fail "first run: no screenshot or no pane map"
fi
# Offline: Bravo's pane stands still and says whose it was; the other three go on.
log=$(ls "$work"/home/DebugInfo.*.log 2>/dev/null | head -1)
grep -q "StopCamera: id:7303, pane:1, forget:0, notice:Bravo" "$log" 2>/dev/null ||
  fail "offline: Bravo's pane did not stop with its name ($(grep -h "StopCamera" "$log" | tail -1))"
grep "StopCamera" "$log" | grep -v "id:7303" && fail "offline: another pane stopped"
if [[ -f $work/offline1.png && -f $work/offline2.png ]]; then
  while read -r name x y w h id; do
    [[ $name == videoPane* ]] || continue
    n=$(changed "$work/offline1.png" "$work/offline2.png" "$x" "$y" "$w" "$h")
    echo "offline: $name ($id) changed $n pixels in a second"
    if [[ $id == 7303 ]]; then ((n < 50)) || fail "offline: Bravo's pane still moves ($n)"; else ((n > 500)) || fail "offline: $name stands still ($n)"; fi
  done <"$work/panes.first"
else
  fail "offline: no screenshots"
fi
# What the next run starts from.
grep -A20 "^\[LIVEGRID\]" "$VISTREL_HOME/Vistrel.ini" | grep -q "^pane3=VGD" || fail "Vistrel.ini does not keep Delta in pane 3"

"$sim" --send "$work/ctl" online VGB >/dev/null
run again
[[ $(cat "$work/client.again.exit" 2>/dev/null) == 0 ]] || fail "second run ended with $(cat "$work/client.again.exit" 2>/dev/null)"
if [[ -f $work/again.png && -f $work/panes.again ]]; then
  grep -q "^layout 4 " "$work/panes.again" || fail "restart: the layout is $(head -1 "$work/panes.again")"
  check_shapes "$work/again.png" "$work/panes.again" "restart"
else
  fail "second run: no screenshot or no pane map"
fi
((failures == 0)) && echo "lab_grid: all checks passed"
exit $((failures > 0))
