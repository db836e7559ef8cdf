#!/usr/bin/env bash
# Checks the built packages against the install layout and the outside validators:
#   check-packages.sh DIR        (DIR holds vistrel_*.deb and vistrel-camsim_*.deb)
# every file the layout names is there with its mode and owner, the desktop entry, metainfo
# and man pages pass desktop-file-validate, appstreamcli and man, both programs print the
# package's version, dependencies were computed, and lintian finds no error or warning that
# is not overridden with a reason.
set -euo pipefail
dir=$1
client=$(ls "$dir"/vistrel_*.deb)
camsim=$(ls "$dir"/vistrel-camsim_*.deb)
version=$(dpkg-deb -f "$client" Version)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
fail=0
bad() { echo "check-packages: $*" >&2; fail=1; }

# path, mode, owner; one package each.
expect_client="
usr/bin/vistrel -rwxr-xr-x root/root
usr/bin/vistrel-cli -rwxr-xr-x root/root
usr/bin/vistrel-regsvr -rwxr-xr-x root/root
usr/lib/$multiarch/vistrel/libZebH264Filter.so -rw-r--r-- root/root
usr/share/vistrel/Vistrel.ini -rw-r--r-- root/root
usr/share/vistrel/CameraType.ini -rw-r--r-- root/root
usr/share/vistrel/PictureSkin/Pic_Video_Background.jpg -rw-r--r-- root/root
usr/share/vistrel/PictureSkin/Pic_Video_Background@2x.jpg -rw-r--r-- root/root
usr/share/applications/vistrel.desktop -rw-r--r-- root/root
usr/share/metainfo/invalid.example.Vistrel.metainfo.xml -rw-r--r-- root/root
usr/share/icons/hicolor/scalable/apps/vistrel.svg -rw-r--r-- root/root
usr/share/icons/hicolor/16x16/apps/vistrel.png -rw-r--r-- root/root
usr/share/icons/hicolor/24x24/apps/vistrel.png -rw-r--r-- root/root
usr/share/icons/hicolor/32x32/apps/vistrel.png -rw-r--r-- root/root
usr/share/icons/hicolor/48x48/apps/vistrel.png -rw-r--r-- root/root
usr/share/icons/hicolor/64x64/apps/vistrel.png -rw-r--r-- root/root
usr/share/icons/hicolor/128x128/apps/vistrel.png -rw-r--r-- root/root
usr/share/icons/hicolor/256x256/apps/vistrel.png -rw-r--r-- root/root
usr/share/man/man1/vistrel.1.gz -rw-r--r-- root/root
usr/share/man/man1/vistrel-cli.1.gz -rw-r--r-- root/root
usr/share/man/man1/vistrel-regsvr.1.gz -rw-r--r-- root/root
usr/share/bash-completion/completions/vistrel-cli -rw-r--r-- root/root
usr/share/zsh/vendor-completions/_vistrel-cli -rw-r--r-- root/root
usr/share/doc/vistrel/copyright -rw-r--r-- root/root
usr/share/doc/vistrel/changelog.gz -rw-r--r-- root/root"
expect_camsim="
usr/bin/vistrel-camsim -rwxr-xr-x root/root
usr/share/vistrel-camsim/examples/basic.json -rw-r--r-- root/root
usr/share/man/man1/vistrel-camsim.1.gz -rw-r--r-- root/root
usr/share/doc/vistrel-camsim/copyright -rw-r--r-- root/root
usr/share/doc/vistrel-camsim/changelog.gz -rw-r--r-- root/root"

check_contents() { # deb, expected lines
  local listing path mode owner
  listing=$(dpkg-deb -c "$1" | awk '{print $6, $1, $2}' | sed 's#^\./##')
  while read -r path mode owner; do
    [[ -n $path ]] || continue
    grep -q -F -x -- "$path $mode $owner" <<<"$listing" ||
      bad "$(basename "$1"): $path $mode $owner missing (has: $(grep -F -- "$path " <<<"$listing" || echo nothing))"
  done <<<"$2"
}
check_contents "$client" "$expect_client"
check_contents "$camsim" "$expect_camsim"

# The maintainer scripts that register the module and give the capture permission.
for script in postinst prerm postrm; do
  dpkg-deb -I "$client" "$script" >/dev/null 2>&1 || bad "vistrel: no $script"
done
# Computed dependencies name the libraries the programs link.
for deb in "$client" "$camsim"; do
  deps=$(dpkg-deb -f "$deb" Depends)
  [[ $deps == *libc6* && $deps == *libavcodec* ]] || bad "$(basename "$deb"): dependencies not computed: $deps"
done
[[ $(dpkg-deb -f "$client" Depends) == *libqt6widgets6* ]] || bad "vistrel: Qt not among the dependencies"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$client" "$work"
dpkg-deb -x "$camsim" "$work"
desktop-file-validate "$work/usr/share/applications/vistrel.desktop" || bad "desktop entry invalid"
appstreamcli validate --no-net "$work/usr/share/metainfo/invalid.example.Vistrel.metainfo.xml" >"$work/as.log" 2>&1 ||
  bad "metainfo invalid: $(cat "$work/as.log")"
for page in "$work"/usr/share/man/man1/*.1.gz; do
  # --warnings: groff's own complaints (bad requests, unknown escapes) go to stderr.
  errors=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $errors ]] || bad "$(basename "$page"): $errors"
  [[ $(MANWIDTH=80 man -l "$page" 2>/dev/null | wc -l) -gt 10 ]] || bad "$(basename "$page") renders nearly empty"
done
for program in vistrel-cli vistrel-regsvr; do
  out=$("$work/usr/bin/$program" --version 2>&1) || bad "$program --version failed: $out"
  [[ $out == "$program $version" ]] || bad "$program --version printed '$out', package is $version"
done
zsh_ok=$(command -v zsh >/dev/null && zsh -n "$work/usr/share/zsh/vendor-completions/_vistrel-cli" && echo yes || echo skipped)
bash -n "$work/usr/share/bash-completion/completions/vistrel-cli" || bad "bash completion does not parse"

# --fail-on warning: a warning is fixed or overridden with its reason in the package.
lintian --fail-on error,warning --tag-display-limit 0 "$client" "$camsim" >"$work/lintian.log" 2>&1 ||
  bad "lintian: $(cat "$work/lintian.log")"

((fail == 0)) && echo "check-packages: vistrel $version and vistrel-camsim: contents, validators, versions, lintian OK (zsh syntax: $zsh_ok)"
exit $fail
