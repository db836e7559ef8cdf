#!/usr/bin/env bash
# Runs a command beside a PulseAudio server of its own: a private runtime folder, one null sink
# (default output) and its monitor (default input), no hardware modules, no sound card. ALSA
# (which PortAudio drives) sees only that server: its configuration for the command defines the
# PulseAudio PCMs and nothing else, so no hardware device can be opened by mistake.
#
#   tests/media/with-pulse.sh COMMAND [ARG...]
#
# The command gets PULSE_SERVER, ALSA_CONFIG_PATH and VISTREL_PULSE_SINK / VISTREL_PULSE_SOURCE;
# the server is stopped on every way out. Exit code 77 (skipped) when pulseaudio is missing.
set -euo pipefail

command -v pulseaudio >/dev/null && command -v pactl >/dev/null || {
    echo "with-pulse.sh: pulseaudio not installed (scripts/setup.sh installs it)" >&2
    exit 77
}

dir=$(mktemp -d /tmp/vistrel-pulse.XXXXXX)
pid=
cleanup() {
    if [[ -n $pid ]]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$dir PULSE_RUNTIME_PATH=$dir/run PULSE_STATE_PATH=$dir/state HOME=$dir
export PULSE_SERVER=unix:$dir/native PULSE_CLIENTCONFIG=$dir/client.conf
# A client must not start a server of its own (nor JACK one).
echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
export JACK_NO_START_SERVER=1
mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"

# -n: no default script, so no device detection; only the modules named here.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
    --log-target=file:"$dir/pulse.log" \
    -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    -L "module-null-sink sink_name=vistrel_null rate=8000 channels=1 format=s16le" &
pid=$!
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
pactl info >/dev/null 2>&1 || {
    echo "with-pulse.sh: the server did not start" >&2
    cat "$dir/pulse.log" >&2 || true
    exit 1
}
pactl set-default-sink vistrel_null
pactl set-default-source vistrel_null.monitor

cat >"$dir/asound.conf" <<'CONF'
pcm.!default { type pulse }
ctl.!default { type pulse }
pcm.pulse { type pulse }
ctl.pulse { type pulse }
CONF
export ALSA_CONFIG_PATH=$dir/asound.conf
export VISTREL_PULSE_SINK=vistrel_null VISTREL_PULSE_SOURCE=vistrel_null.monitor

"$@"
