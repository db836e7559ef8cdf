#!/usr/bin/env bash
# Installs both packages into a throwaway root and uses them as an unprivileged user:
#   install-test.sh DIR [SHOTS]   (DIR holds the .deb files; SHOTS gets the screenshots)
# The root is an overlay over this machine's own root, its writable layer in memory: the
# packages' dependencies are the packages the machine already has, and whatever the install,
# the programs and the purge write lands in that layer, which the test reads (every file
# written) and then throws away. Everything that opens sockets runs inside the network lab.
# Root needed; exit 77 when the machine cannot host the lab or an overlay.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
debs=$(cd "$1" && pwd)
shots=${2:-}
[[ $(id -u) -eq 0 ]] || { echo "install-test: root needed" >&2; exit 77; }

top=$(mktemp -d /tmp/vistrel-install.XXXXXX)
root=$top/root
cleanup() {
  for m in "$root/tmp" "$root/run" "$root/proc" "$root/sys" "$root/dev/pts" "$root/dev" "$root/debs" "$root"; do
    mountpoint -q "$m" && umount -l "$m"
  done
  mountpoint -q "$top/layer" && umount -l "$top/layer"
  rm -rf "$top"
}
trap cleanup EXIT
mkdir -p "$top/layer" "$root"
mount -t tmpfs tmpfs "$top/layer" || exit 77
mkdir -p "$top/layer/upper" "$top/layer/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$top/layer/upper,workdir=$top/layer/work" "$root" || exit 77
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount --bind /sys "$root/sys"
mount -t tmpfs tmpfs "$root/run"
mount -t tmpfs tmpfs "$root/tmp"
mkdir -p "$root/debs"
mount --bind -o ro "$debs" "$root/debs"

fail=0
bad() { echo "install-test: $*" >&2; fail=1; }
in_root() { chroot "$root" "$@"; }
# What was written in the root since the last mark (the overlay's writable layer).
written() { (cd "$top/layer/upper" && find . -newer "$top/mark" \( -type f -o -type l -o -type c \) | sed 's#^\./#/#' | sort); }

[[ ! -e $root/usr/bin/vistrel ]] || { echo "install-test: the machine already has vistrel installed" >&2; exit 1; }
touch "$top/mark"
client_deb=$(cd "$debs" && ls vistrel_*.deb)
camsim_deb=$(cd "$debs" && ls vistrel-camsim_*.deb)
# As the README has users do it: apt with the package files, the dependencies from what is there.
in_root env DEBIAN_FRONTEND=noninteractive sh -c "cd /debs && apt-get install -y -qq ./$client_deb ./$camsim_deb" \
  >"$top/apt.log" 2>&1 || { cat "$top/apt.log" >&2; exit 1; }
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
module=/usr/lib/$multiarch/vistrel/libZebH264Filter.so
grep -q "$module" "$root/var/lib/vistrel/Classes.reg" || bad "Classes.reg does not register $module"
for program in vistrel vistrel-cli; do
  [[ $(in_root getcap /usr/bin/$program) == *cap_net_raw=ep* ]] || bad "$program lacks cap_net_raw"
done

in_root useradd -m -U -s /bin/sh vistrel-tester
uid=$(in_root id -u vistrel-tester)
install -d -m 0700 -o "$uid" -g "$uid" "$root/run/user/$uid"
# The user's own session: nothing of root's environment, XDG folders left at their defaults.
as_user="chroot $root /usr/sbin/runuser -u vistrel-tester -- /usr/bin/env -i HOME=/home/vistrel-tester
  USER=vistrel-tester PATH=/usr/bin:/bin XDG_RUNTIME_DIR=/run/user/$uid LANG=C.UTF-8"
touch "$top/mark"

export as_user root shots
in_lab='
  set -u
  ip netns exec "$LAB_CAMERA_NS_1" chroot "$root" vistrel-camsim \
    --scenario /usr/share/vistrel-camsim/examples/basic.json --addresses "$LAB_CAMERA_ADDRS_1" >/dev/null 2>&1 &
  sim=$!
  sleep 1
  $as_user vistrel-cli --json search --seconds 3 >"$root/tmp/search.json" 2>"$root/tmp/search.err"
  echo "search exit $?" >"$root/tmp/search.rc"
  # The decoder, created by class id from the registry the package wrote, in its private folder.
  $as_user vistrel-cli snapshot VS0001 --password pw -o /tmp/snap.bmp >"$root/tmp/snap.log" 2>&1
  echo "snapshot exit $?" >"$root/tmp/snap.rc"
  # Without the capability (a file system without extended attributes): sockets alone.
  chroot "$root" setcap -r /usr/bin/vistrel-cli
  $as_user vistrel-cli --json search --seconds 3 >"$root/tmp/nocap.json" 2>"$root/tmp/nocap.err"
  echo "search exit $?" >"$root/tmp/nocap.rc"
  # The desktop client under Xvfb: a shot of the screen once it has searched, then it closes.
  $as_user xvfb-run -a -s "-screen 0 1280x900x24" sh -c "vistrel --close-after 9000 & sleep 7;
    import -window root /tmp/client.png; wait" >"$root/tmp/client.log" 2>&1
  echo "client exit $?" >"$root/tmp/client.rc"
  kill $sim; wait $sim 2>/dev/null
  exit 0'
"$repo/scripts/lab/lab-run.sh" --cameras 1 --camera-addrs 3 -- bash -c "$in_lab" || exit $?

[[ $(cat "$root/tmp/search.rc") == "search exit 0" ]] || bad "search: $(cat "$root/tmp/search.rc" "$root/tmp/search.err")"
found=$(jq -r '[.devices[].serial] | sort | join(",")' "$root/tmp/search.json" 2>/dev/null || true)
[[ $found == NVR0001,VS0001,VS0002 ]] || bad "search as a user found '$found'"
grep -q "capture is off" "$root/tmp/search.err" && bad "capture off for the user: $(cat "$root/tmp/search.err")"
[[ $(cat "$root/tmp/snap.rc") == "snapshot exit 0" ]] || bad "snapshot as a user: $(cat "$root/tmp/snap.rc" "$root/tmp/snap.log")"
picture=$(identify -format '%m %w %h' "$root/tmp/snap.bmp" 2>&1 || true)
[[ $picture == BMP* ]] || bad "the user's snapshot is not a picture: $picture"
nocap=$(jq -r '[.devices[].serial] | sort | join(",")' "$root/tmp/nocap.json" 2>/dev/null || true)
[[ $(cat "$root/tmp/nocap.rc") == "search exit 0" && $nocap == "$found" ]] ||
  bad "without CAP_NET_RAW the search found '$nocap': $(cat "$root/tmp/nocap.rc" "$root/tmp/nocap.err")"
[[ $(grep -c "packet capture is off" "$root/tmp/nocap.err") == 1 ]] || bad "search without capture did not say so once"
[[ $(jq -r '.capture.on, (.capture.note | test("capture is off"))' "$root/tmp/nocap.json" 2>/dev/null | tr '\n' ' ') == "false true " ]] ||
  bad "the search result does not say capture is off: $(jq -c .capture "$root/tmp/nocap.json" 2>&1)"
[[ $(cat "$root/tmp/client.rc") == "client exit 0" ]] || bad "desktop client: $(cat "$root/tmp/client.rc" "$root/tmp/client.log")"
[[ -n $shots && -f $root/tmp/client.png ]] && cp "$root/tmp/client.png" "$shots/installed-client.png"

# Files written by the user's runs: the settings (with the user's own classes, which lie over the
# package's registry) and the log in the user's XDG folders, the scratch of the run (tmp,
# runtime folder), and nothing else; the settings the user's alone.
home=/home/vistrel-tester
unexpected=$(written | grep -v -E "^($home/\.config/vistrel/(Vistrel\.ini|CameraType\.ini|Classes\.reg|Classes\.reg\.lock)|$home/\.local/state/vistrel/DebugInfo\.[0-9]+\.log|/tmp/.*|/run/user/$uid/.*|$home/\.cache/fontconfig/.*|$home/\.Xauthority)$" || true)
[[ -z $unexpected ]] || bad "written outside the user's XDG folders: $unexpected"
for f in Vistrel.ini CameraType.ini; do
  [[ $(stat -c %a "$root$home/.config/vistrel/$f" 2>/dev/null) == 600 ]] || bad "$f missing or not 0600"
done
[[ $(stat -c %a "$root$home/.config/vistrel") == 700 ]] || bad "settings folder not 0700"
log=$(ls "$root$home"/.local/state/vistrel/DebugInfo.*.log 2>/dev/null | head -1 || true)
[[ -n $log ]] || bad "no log in the user's state folder"
# Said once in the log, by the one run that had no capture.
said=$(cat "$root$home"/.local/state/vistrel/DebugInfo.*.log 2>/dev/null | grep -c "packet capture is off" || true)
[[ $said == 1 ]] || bad "the logs say $said times that capture is off (one run without it)"
# The desktop client heard the search answers of all three devices.
known=$( (grep -h -o "ResCmd_Search: beg { id:[0-9a-f]*" "$root$home"/.local/state/vistrel/*.log 2>/dev/null || true) | sort -u | wc -l)
((${known:-0} >= 3)) || bad "the desktop client knew ${known:-no} devices: $(cat "$root/tmp/client.log"; tail -n 20 "$log")"

# Purge: nothing of the packages is left; what remains is the user's own and the package
# manager's bookkeeping.
touch "$top/mark"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vistrel vistrel-camsim >"$top/apt.log" 2>&1 ||
  { cat "$top/apt.log" >&2; exit 1; }
left=$( (cd "$top/layer/upper" && find . ! -type d ! -type c | sed 's#^\./#/#') |
  grep -v -E "^(/var/lib/dpkg/|/var/log/|/var/cache/(apt|debconf|ldconfig)/|/var/lib/apt/|/etc/(passwd|group|shadow|gshadow|subuid|subgid)-?$|/etc/ld.so.cache$|/home/vistrel-tester/|/var/mail/vistrel-tester$|/var/lib/sgml-base/|/var/lib/systemd/|/etc/\.pwd\.lock$|/var/cache/man/|/usr/share/applications/mimeinfo\.cache$|/usr/share/icons/hicolor/icon-theme\.cache$)" || true)
[[ -z $left ]] || bad "left after purge: $left"
[[ ! -e $root/var/lib/vistrel ]] || bad "/var/lib/vistrel left after purge"

((fail == 0)) && echo "install-test: installed, used as an unprivileged user in the lab (search found $found, also without CAP_NET_RAW; snapshot $picture; client heard $known devices), purged clean"
exit $fail
