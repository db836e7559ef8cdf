#!/usr/bin/env bash
# End-to-end scenarios: vistrel-cli against vistrel-camsim in the network lab. Run through
# lab-run.sh (ctest does that):
#   scenarios.sh SCENARIO <vistrel-cli> <vistrel-camsim> <data folder>
scenario=$1
export E2E_CLI=$2 E2E_SIM=$3 E2E_DATA=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

# The groups of the last "info --json" without an answer. The simulator answers the video
# report query with the video parameter report, which fills no query flag, so that group is
# left out here.
answered() { jq -c '.missing - ["video_report"]' "$work/out"; }

# One row of "search --json" by serial (channels included), as compact JSON.
row() { jq -c --arg s "$1" '[.. | objects | select(.serial? == $s)] | first' "$work/out"; }

one_camera() {
  start_sim "$(scenario_file one '{ "seed": 1, "cameras": [ { "id": 4660, "serial": "VS0001", "name": "Gate",
      "firmware": "2.1.0", "sensor_id": 16, "wifi": true } ] }')"
  cli --json search --seconds 2
  expect_rc "search" 0
  expect_eq "devices" "$(jq ".devices | length" "$work/out")" 1
  expect_eq "capture heard along" "$(jq -c .capture "$work/out")" '{"on":true}'
  expect_eq "identity" "$(row VS0001 | jq -c '[.id, .name, .address, .kind, .firmware, .model, .ui_family]')" \
    "[4660,\"Gate\",\"${LAB_CAMERA_ADDRS_1%% *}\",\"camera\",\"2.1.0\",\"VH-300W\",3]"
  expect_eq "flags" "$(row VS0001 | jq -c '[.encrypted, .has_password, .sd, .wifi, ."3g"]')" '[false,false,true,true,false]'
  cli --json info VS0001
  expect_rc "info" 0
  expect_eq "every group answered" "$(answered)" '[]'
  expect_eq "firmware group" "$(jq -r .groups.version.firmware "$work/out")" 2.1.0
  expect_eq "wifi group asked" "$(jq -r .groups.wifi.answered "$work/out")" true
  cli --json info 4660
  expect_rc "info by id" 0
  cli info VS9999 --wait 3
  expect_rc "unknown camera" 3
}

ten_cameras() {
  start_sim "$(scenario_file ten '{ "seed": 2, "cameras": [ { "count": 10, "id": 7000, "serial": "SIM{n:3}",
      "name": "Cam {n}" } ] }')"
  cli --json search --seconds 3
  expect_rc "search" 0
  expect_eq "devices" "$(jq ".devices | length" "$work/out")" 10
  expect_eq "serials" "$(jq -r '[.devices[].serial] | sort | join(",")' "$work/out")" \
    "$(printf 'SIM%03d,' $(seq 1 10) | sed 's/,$//')"
  expect_eq "all queried" "$(jq '[.devices[] | select(.firmware == "")] | length' "$work/out")" 0
}

recorder() {
  start_sim "$(scenario_file nvr '{ "seed": 3, "cameras": [ { "id": 500, "serial": "NVR1", "name": "Recorder",
      "channels": 4 } ] }')"
  cli --json search --seconds 2
  expect_rc "search" 0
  expect_eq "one recorder" "$(jq -c '[.devices[] | .kind]' "$work/out")" '["recorder"]'
  expect_eq "channels" "$(jq -c '[.devices[0].children[] | [.id, .serial, .kind, .present]]' "$work/out")" \
    '[[50001,"NVR1-1","channel",true],[50002,"NVR1-2","channel",true],[50003,"NVR1-3","channel",true],[50004,"NVR1-4","channel",true]]'
  cli --json info NVR1-3
  expect_rc "channel info" 0
  # A channel is asked only for its own groups; the recorder's network belongs to the recorder.
  expect_eq "channel groups" "$(jq -c '.groups | keys' "$work/out")" \
    '["alarm_time","autoscan","do","mail","motion","nas_record","sd_info","sd_record","snapshot_server","time_format","video_report"]'
  # Every one answered, the patrol state and the video report (asked once the recorder's
  # capability is known) included.
  expect_eq "channel answered" "$(jq -c '.missing' "$work/out")" '[]'
  cli --json info NVR1
  expect_rc "recorder info" 0
  expect_eq "recorder answers for itself" "$(jq -c '[.missing, .groups.version.answered, .groups.capability.answered, .model != ""]' "$work/out")" \
    '[[],true,true,true]'
  expect_eq "recorder has no motion group" "$(jq -c '.groups | has("motion")' "$work/out")" false
  cli --json set NVR1 motion threshold=5
  expect_rc "a recorder has no motion settings" 2
  expect_eq "refusal says why" "$(jq -r .error.code "$work/out")" bad_arguments
  cli --json set 50002 ntp sync=on
  expect_rc "a channel has no time settings of its own" 2
  cli --json set 50002 motion threshold=20 area1=on
  expect_rc "channel motion set" 0
  expect_eq "camera holds it" "$(dump NVR1-2 | jq -c '.settings.motion.threshold')" 20
  cli --json get 50002 motion
  expect_eq "get one group" "$(jq -c '[.ok, .group, .values.threshold]' "$work/out")" '[true,"motion",20]'
}

encrypted() {
  start_sim "$(scenario_file enc '{ "seed": 4, "cameras": [
      { "id": 10, "serial": "CLEAR1", "cipher": "clear" },
      { "id": 11, "serial": "SECRET1", "cipher": "encrypted" },
      { "id": 12, "serial": "BOTH1", "cipher": "both" } ] }')"
  cli --json search --seconds 2
  expect_rc "search" 0
  expect_eq "all three" "$(jq -r '[.devices[].serial] | sort | join(",")' "$work/out")" BOTH1,CLEAR1,SECRET1
  expect_eq "encrypted one marked" "$(row SECRET1 | jq .encrypted)" true
  cli --json info SECRET1
  expect_rc "encrypted camera answers queries" 0
  expect_eq "encrypted camera answered" "$(answered)" '[]'
  # The ENCRYPT switch: only the enciphered protocol, so a clear-only camera is not seen.
  printf '[ENCRYPT]\nencrypt=1\n' >>"$VISTREL_HOME/Vistrel.ini"
  cli --json search --seconds 2
  expect_rc "search with ENCRYPT" 0
  expect_eq "clear camera hidden" "$(jq -r '[.devices[].serial] | sort | join(",")' "$work/out")" BOTH1,SECRET1
}

password() {
  start_sim "$(scenario_file pw '{ "seed": 5, "cameras": [ { "id": 77, "serial": "PW1", "password": "s3cret",
      "encrypt_version": 1 }, { "id": 78, "serial": "OPEN1" } ] }')"
  cli --json search --seconds 2
  expect_eq "password flag" "$(row PW1 | jq .has_password),$(row OPEN1 | jq .has_password)" true,false
  cli --json info PW1 --password wrong
  expect_rc "wrong password refused" 4
  expect_eq "one document saying why" "$(jq -sc '[length, .[0].ok, .[0].error.code]' "$work/out")" '[1,false,"wrong_password"]'
  VISTREL_PASSWORD=s3cret cli --json info PW1
  expect_rc "password from the environment" 0
  printf 's3cret\n' >"$work/pw"
  cli --json upgrade PW1 --image-dir "$work" --password-file "$work/pw" --password wrong
  expect_rc "two password sources refused" 2
  cli --json info PW1 --password s3cret
  expect_rc "right password" 0
  expect_eq "token accepted" "$(jq -r .token "$work/out")" accepted
  expect_eq "no bad token at the camera" "$(dump PW1 | jq .counters.bad_token)" 0
  cli set PW1 timeformat format=1
  expect_rc "set without the password" 4
  cli set PW1 password old=wrong new=n3w --password s3cret
  expect_rc "password change with a wrong old one" 4
  cli --json set PW1 password new=n3w confirm=other --password s3cret
  expect_rc "confirmation differs" 2
  cli --json set PW1 password new=n3w --password s3cret
  expect_rc "password change" 0
  expect_eq "camera changed it" "$(dump PW1 | jq -r .password)" n3w
  cli info PW1 --password s3cret
  expect_rc "old password now wrong" 4
  cli --json info PW1 --password n3w
  expect_rc "new password" 0
  expect_eq "token of the new password accepted" "$(jq -r .token "$work/out")" accepted
}

bad_input() {
  start_sim "$(scenario_file bad '{ "seed": 6, "cameras": [ { "id": 90, "serial": "BAD1" } ] }')"
  local args
  while IFS= read -r args; do
    # shellcheck disable=SC2086
    cli set BAD1 $args
    expect_rc "refused: $args" 2
  done <<'EOF'
port camera=7998
port camera=3478
port camera=80x
network ip=198.18.0.300
network ip=198.18.0.5 mask=255.0.255.0
network pppoe_password=a pppoe_confirm=b
snapshot count=0
snapshot count=128
snapshot interval=65536
snapshot port=0
snapshot server=0.0.0.0
name name=
nas size=0
nas path=
rtsp main_fps=30 main_res=8 main_bps=100
rtsp main_bps=10001
sd fps=9
motion area1_sens=100
ntp zone=+15:00
mail recipients=a@x,b@x,c@x,d@x,e@x,f@x
nosuchgroup a=1
port nosuchkey=1
port
EOF
  cli --json set BAD1 port camera=7998
  expect_eq "message" "$(jq -r .error.message "$work/out")" "camera: The port range is from 3479 to 7997! (nothing sent)"
  # Refused input never reached the camera: no write of any kind was counted.
  expect_eq "nothing sent" "$(dump BAD1 | jq -c .last_set)" '{}'
}

set_quick() {
  start_sim "$(scenario_file setq '{ "seed": 7, "cameras": [ { "id": 300, "serial": "SET1", "name": "Before" } ] }')"
  cli --json set SET1 port camera=3479
  expect_rc "port" 0
  expect_eq "camera port" "$(dump SET1 | jq .settings.ports.camera)" 3479
  cli --json set SET1 ntp zone=-05:30 server=ntp.lab sync=on dst=date dst_start=3/31/2 dst_end=10/27/3
  expect_rc "ntp" 0
  expect_eq "camera time zone" "$(dump SET1 | jq -c '[.settings.ntp.time_zone, .settings.ntp.server, .settings.ntp.dst_mode]')" \
    '[-330,"ntp.lab",1]'
  cli --json set SET1 name name=After
  expect_rc "name" 0
  expect_eq "camera name" "$(dump SET1 | jq -r .name)" After
  cli --json info SET1
  expect_eq "fresh info agrees" "$(jq -c '[.name, .groups.ports.camera, .groups.ntp.zone, .groups.ntp.server]' "$work/out")" \
    '["After",3479,"-05:30","ntp.lab"]'
}

set_all() {
  start_sim "$(scenario_file seta '{ "seed": 8, "cameras": [ { "id": 301, "serial": "SET2", "wifi": true,
      "three_g": true, "wifi_survey": [ { "ssid": "labnet", "auth": 4, "enc": 3 } ] } ] }')"
  local addr=${LAB_CAMERA_ADDRS_1%% *}
  local -a sets=(
    "motion threshold=30 area1=on area1_rect=10,10,50,50 area1_sens=70 area3=on area3_rect=0,0,100,100"
    "do area1=on di=on"
    "sms area2=on area3=on"
    "mail server=smtp.lab sender=cam@lab recipients=a@lab,b@lab message=Alarm"
    "sd fps=15 res=7 bps=600"
    "nas fps=10 res=4 bps=200 ip=198.18.0.2 path=/rec account=cam password=pw confirm=pw size=2048"
    "rtsp auth=on main_fps=30 main_res=8 main_bps=4000 sub_fps=15 sub_res=4 sub_bps=300"
    "snapshot enable=on count=5 interval=60 server=198.18.0.2 port=2121 triggers=motion1,di res=4"
    "timeformat format=1"
    "microphone volume=80 enable=on type=1"
    "upnp enable=on"
    "dserver connect=on"
    "wifi ssid=labnet key=wpa-secret"
    "3g dial=custom apn=lab.apn tel=*99# account=u password=p"
    "network mode=static ip=$addr mask=255.255.255.0 gateway=198.18.0.1 dns1=198.18.0.1"
    "port camera=0"
  )
  local args
  for args in "${sets[@]}"; do
    # shellcheck disable=SC2086
    cli --json set SET2 $args
    expect_rc "set $args" 0
  done
  local dump
  dump=$(dump SET2)
  expect_eq "motion at the camera" "$(jq -c '.settings.motion.threshold' <<<"$dump")" 30
  expect_eq "mail at the camera" "$(jq -c '[.settings.mail.server1, .settings.mail.recipients]' <<<"$dump")" \
    '["smtp.lab",["a@lab","b@lab"]]'
  expect_eq "snapshot at the camera" "$(jq -c '[.settings.snapshot_server.server_ip, .settings.snapshot_server.server_port]' <<<"$dump")" \
    '["198.18.0.2",2121]'
  expect_eq "3g at the camera" "$(jq -c '[.settings.three_g.apn, .settings.three_g.tel]' <<<"$dump")" '["lab.apn","*99#"]'
  expect_eq "nas at the camera" "$(jq -c '[.settings.nas_record.path, .settings.nas_record.account]' <<<"$dump")" '["/rec","cam"]'
  expect_eq "time format at the camera" "$(jq '.settings.time_format' <<<"$dump")" 1
  expect_eq "rtsp, upnp, D-server link and a picked port at the camera" \
    "$(jq -c '[.settings.rtsp.enable, .settings.upnp[0:2], .settings.dserver_link, .settings.ports.camera > 0]' <<<"$dump")" \
    '[1,"01",1,true]'
  cli --json info SET2
  expect_rc "fresh info" 0
  expect_eq "fresh info agrees" "$(jq -c '[.groups.motion.threshold, .groups.do.do, .groups.do.sms, .groups.mail.recipients,
      .groups.sd_record.bps, .groups.nas_record.path, .groups.snapshot_server.port, .groups.time_format.format,
      .groups.volume.mic_volume, .groups.wifi.ssid, .groups."3g".apn, .groups.network.ip]' "$work/out")" \
    "[30,[1,0,0,1],[0,1,1,0],[\"a@lab\",\"b@lab\"],600,\"/rec\",2121,1,80,\"labnet\",\"lab.apn\",\"$addr\"]"
}

offline_online() {
  start_sim "$(scenario_file off '{ "seed": 9, "cameras": [ { "id": 400, "serial": "OFF1" }, { "id": 401, "serial": "STAY1" } ] }')"
  "$E2E_CLI" --json watch --seconds 75 >"$work/watch" 2>"$work/watch.err" &
  local watch=$!
  sleep 4
  sim offline OFF1 >/dev/null
  local _
  for _ in $(seq 40); do
    grep -q '"event":"offline"' "$work/watch" && break
    sleep 1
  done
  expect_eq "offline reported" "$(jq -sc '[.[] | select(.event == "offline") | .serial]' "$work/watch")" '["OFF1"]'
  # Gone only once neither path heard it for twice the search period: the client's own ticks
  # of its last answer and of the report.
  expect_eq "silent for twice the period first" "$(jq -s '([.[] | select(.serial == "OFF1" and .event == "offline")][0].tick)
      - ([.[] | select(.serial == "OFF1" and .event != "offline")] | last | .tick) >= 20000' "$work/watch")" true
  # ... and reported within the next check or two (the presence check runs every second).
  expect_eq "reported soon after" "$(jq -s '([.[] | select(.serial == "OFF1" and .event == "offline")][0].tick)
      - ([.[] | select(.serial == "OFF1" and .event != "offline")] | last | .tick) <= 23000' "$work/watch")" true
  sim online OFF1 >/dev/null
  for _ in $(seq 20); do
    [[ $(jq -sc '[.[] | select(.event == "online" and .serial == "OFF1")] | length' "$work/watch") == 2 ]] && break
    sleep 1
  done
  expect_eq "back online" "$(jq -sc '[.[] | select(.event == "online" and .serial == "OFF1")] | length' "$work/watch")" 2
  kill -INT "$watch"
  wait "$watch"
  expect_eq "watch ends cleanly on SIGINT" "$?" 0
  # The camera that stayed was never reported gone.
  expect_eq "other camera stayed" "$(jq -sc '[.[] | select(.serial == "STAY1") | .event] | unique' "$work/watch")" \
    '["list_info","online"]'
  # A new query cycle after the return: capability asked again.
  expect_eq "queried again" "$(dump OFF1 | jq '.counters.online."0x20" >= 2')" true
}

sweep_only() {
  start_sim "$(scenario_file sweep '{ "seed": 10, "cameras": [ { "id": 600, "serial": "SWEEP1", "answers": "sweep" },
      { "id": 601, "serial": "MCAST1", "answers": "multicast" } ] }')"
  cli --json search --seconds 4
  expect_rc "search" 0
  expect_eq "sweep-only camera found by the sweep" "$(row SWEEP1 | jq -r .found_by)" sweep
  expect_eq "multicast-only camera" "$(row MCAST1 | jq -r .found_by)" multicast
}

other_subnet() {
  start_sim "$(scenario_file oth '{ "seed": 11, "cameras": [ { "id": 700, "serial": "FAR1", "answers": "multicast", "unicast_capable": false,
      "address": "'"$LAB_OTHER_SUBNET_ADDR"'" } ] }')" "$LAB_OTHER_NS" "$LAB_OTHER_SUBNET_ADDR"
  cli --json search --seconds 3
  expect_rc "search" 0
  expect_eq "heard through the capture" "$(row FAR1 | jq -r '.found_by')" capture
  # Configured through LAN multicast: its address does not fit the client's network.
  cli --json set FAR1 network mode=static ip=198.18.0.60 mask=255.255.255.0 gateway=198.18.0.1
  expect_rc "network set by multicast" 0
  expect_eq "camera moved" "$(dump FAR1 | jq -r .address)" 198.18.0.60
}

loss() {
  start_sim "$(scenario_file loss '{ "seed": 12, "faults": { "loss": 0.05, "duplicate": 0.05, "reorder": 0.1,
      "delay_ms": 3 }, "cameras": [ { "count": 10, "id": 800, "serial": "LOSS{n:2}" } ] }')"
  # Two search rounds: a camera whose first answers were both lost is found by the next.
  cli --json search --seconds 12
  expect_rc "search" 0
  expect_eq "every camera found" "$(jq ".devices | length" "$work/out")" 10
  local serial missing
  for serial in LOSS01 LOSS05 LOSS10; do
    cli --json info "$serial"
    expect_rc "info $serial" 0
    missing=$(jq -c .missing "$work/out")
    # Either every group came within the four passes, or the missing ones are named.
    if [[ $missing == '[]' ]]; then
      pass "$serial complete"
    else
      expect_eq "$serial passes spent" "$(jq .query_passes "$work/out")" 4
      expect_eq "$serial missing groups marked" "$(jq -c '[.groups | to_entries[] | select(.value.answered == false) | .key]' "$work/out")" "$missing"
    fi
  done
}

upgrade() {
  start_sim "$(scenario_file upg '{ "seed": 13, "defaults": { "firmware_write_ms": 1000, "reboot_ms": 2000 },
      "cameras": [ { "count": 3, "id": 900, "serial": "UPG{n}" },
      { "id": 950, "serial": "STALL1", "faults": { "out": { "delay_ms": 40 } } },
      { "id": 960, "serial": "LOST1", "firmware_final_report": false } ] }')"
  local images=$work/images
  mkdir -p "$images"
  "$E2E_SIM" --make-image --version 9.9.9 --size 150000 -o "$images/8126.Img" >/dev/null
  cli --json upgrade UPG1 UPG2 UPG3 --image-dir "$work/none"
  expect_rc "missing image" 2
  # The fourth camera goes quiet in the middle of its transfer: its late acknowledgements
  # stretch the transfer (one chunk per acknowledgement) well past the moment it goes quiet.
  ( sleep 1.5; sim offline STALL1 >/dev/null ) &
  # The fifth camera's closing report is lost: it is finished once it answers with the new version.
  # A test-only give-up time keeps the run short; the program itself waits three minutes.
  cli --json upgrade UPG1 UPG2 UPG3 STALL1 LOST1 --image-dir "$images" --timeout 400 --test-give-up-ms 15000
  expect_rc "one camera stopped answering" 6
  expect_eq "one document" "$(jq -s length "$work/out")" 1
  expect_eq "results" "$(jq -sc '.[-1].results | map([.serial, .result, .exit])' "$work/out")" \
    '[["UPG1","Write finished, reboot.",0],["UPG2","Write finished, reboot.",0],["UPG3","Write finished, reboot.",0],["STALL1","Camera doesn'"'"'t response",6],["LOST1","Finished",0]]'
  expect_eq "progress" "$(jq -c '[.progress[] | select(.percent? == 50) | .serial] | unique' "$work/out")" '["LOST1","UPG1","UPG2","UPG3"]'
  sleep 3
  expect_eq "new firmware" "$(dump UPG1 | jq -r .firmware)" 9.9.9
  expect_eq "new firmware without its report" "$(dump LOST1 | jq -r .firmware)" 9.9.9
}

# reboot and time sync: the simulator keeps the clock it was given and restarts on request; a
# camera that ignores the restart keeps answering, which is a refusal.
system_commands() {
  start_sim "$(scenario_file sys '{ "seed": 19, "cameras": [ { "id": 310, "serial": "SYS1", "name": "Clock" },
      { "id": 311, "serial": "SYS2", "name": "Stubborn", "ignore": ["online:0x10000000"] } ] }')"
  local before after utc z
  before=$(date +%s)
  cli --json time sync SYS1
  expect_rc "time sync" 0
  after=$(date +%s)
  utc=$(dump SYS1 | jq .settings.clock.utc)
  expect_eq "clock set once" "$(dump SYS1 | jq .settings.clock.sets)" 1
  expect_eq "clock from the PC" "$((utc >= before && utc <= after))" 1
  z=$(date +%z)
  expect_eq "offset from UTC" "$(dump SYS1 | jq .settings.clock.offset)" \
    "$((${z:0:1}1 * (10#${z:1:2} * 60 + 10#${z:3:2})))"
  expect_eq "reported" "$(jq -c '[.utc == '"$utc"', .sent]' "$work/out")" '[true,true]'
  cli --json reboot SYS1
  expect_rc "reboot" 0
  expect_eq "restart asked once, camera down" "$(dump SYS1 | jq -c '[.settings.reboots_asked, .rebooting]')" '[1,true]'
  cli --json reboot SYS2 --wait 4
  expect_rc "restart ignored" 5
  expect_eq "still up" "$(dump SYS2 | jq -c '[.settings.reboots_asked, .rebooting]')" '[0,false]'
}

quality() {
  # 1000 kbit/s, 25 fps, D1: a PAL camera and an NTSC one.
  start_sim "$(scenario_file qual '{ "seed": 23, "cameras": [
      { "id": 320, "serial": "QUAL1", "video_report": [65548828, 1, 0, 0], "capability": { "flags": 65536 } },
      { "id": 321, "serial": "QUAL2", "video_report": [65548828, 0, 0, 0] } ] }')"
  cli --json quality QUAL1
  expect_rc "read" 0
  expect_eq "reported" "$(jq -c '[.fps, .resolution, .bitrate, .standard]' "$work/out")" '[25,7,1000,"pal"]'
  cli --json quality QUAL1 resolution=8 fps=30 bitrate=375
  expect_rc "PAL HD floor" 0
  expect_eq "camera's stream" "$(dump QUAL1 | jq '.settings.video_report[0]')" $(((375 << 16) | (30 << 9) | (8 << 2)))
  expect_eq "read back" "$(jq -c '[.fps, .resolution, .bitrate, .verified]' "$work/out")" '[30,8,375,true]'
  cli --json quality QUAL2 resolution=8 fps=30 bitrate=1124
  expect_rc "NTSC HD floor" 2
  expect_eq "message" "$(jq -r .error.message "$work/out")" "bitrate: The minimum BPS is 1125"
  # QUAL2 neither encodes nor streams HD: refused as the quality page does.
  cli --json quality QUAL2 resolution=8 fps=30 bitrate=1125
  expect_rc "HD without the ability" 2
  expect_eq "HD message" "$(jq -r .error.message "$work/out")" "resolution: Invalid value!"
  cli --json set QUAL2 sd res=8 fps=30 bps=1125
  expect_rc "SD recording in HD without the ability" 2
  cli --json quality QUAL2 bitrate=10001
  expect_rc "above the top" 2
  cli --json quality QUAL2 fps=9
  expect_rc "no such frame rate" 2
  expect_eq "nothing sent" "$(dump QUAL2 | jq -c .last_set)" '{}'
}

"$scenario"
finish
