# Private audio server for the tests: a PulseAudio daemon of our own with two
# null sinks, "speaker" (the default sink) and "mic" (whose monitor is the
# default source), and an ALSA configuration that points the "default" PCM and
# ctl at it. Nothing of the user's own sound setup is read or changed.
#
#   source tools/test-audio-env.sh        start it (if ours is not running) and
#                                         export PULSE_SERVER, ALSA_CONFIG_PATH
#   bash tools/test-audio-env.sh stop     stop it
#
# Tests play into the "mic" sink (paplay --device=mic) to feed the capture
# side, and record "speaker.monitor" to hear the playback side.

velnar_audio_dir="${VELNAR_AUDIO_DIR:-/tmp/velnar-audio-$(id -u)}"

velnar_audio_write_config() {
    mkdir -p "$velnar_audio_dir/home" "$velnar_audio_dir/run"
    chmod 700 "$velnar_audio_dir/run"
    cat > "$velnar_audio_dir/server.pa" <<PA
load-module module-native-protocol-unix socket=$velnar_audio_dir/native auth-anonymous=1
load-module module-null-sink sink_name=speaker sink_properties=device.description=speaker
load-module module-null-sink sink_name=mic sink_properties=device.description=mic
set-default-sink speaker
set-default-source mic.monitor
PA
    cat > "$velnar_audio_dir/asound.conf" <<ALSA
</usr/share/alsa/alsa.conf>
pcm.!default { type pulse hint { show on description "Velnar test audio server" } }
ctl.!default { type pulse }
ALSA
}

velnar_audio_running() {
    PULSE_SERVER="unix:$velnar_audio_dir/native" pactl info >/dev/null 2>&1
}

velnar_audio_start() {
    mkdir -p "$velnar_audio_dir"
    # Several test runs may start at once: one starts the server, the others wait.
    (
        flock 9
        velnar_audio_start_locked
    ) 9>"$velnar_audio_dir/lock"
}

velnar_audio_start_locked() {
    velnar_audio_running && return 0
    velnar_audio_write_config
    rm -f "$velnar_audio_dir/native"
    # The daemon warns when run as root (CI runs as root); it works all the same.
    HOME="$velnar_audio_dir/home" XDG_RUNTIME_DIR="$velnar_audio_dir/run" \
        setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --disallow-exit --realtime=no -F "$velnar_audio_dir/server.pa" \
        --log-target=file:"$velnar_audio_dir/server.log" </dev/null >/dev/null 2>&1 &
    echo $! > "$velnar_audio_dir/server.pid"
    for _ in $(seq 1 100); do
        velnar_audio_running && return 0
        sleep 0.1
    done
    echo "test audio server did not start; see $velnar_audio_dir/server.log" >&2
    return 1
}

velnar_audio_stop() {
    [ -f "$velnar_audio_dir/server.pid" ] || return 0
    kill "$(cat "$velnar_audio_dir/server.pid")" 2>/dev/null
    rm -f "$velnar_audio_dir/server.pid"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
        stop) velnar_audio_stop ;;
        start) velnar_audio_start && echo "PULSE_SERVER=unix:$velnar_audio_dir/native ALSA_CONFIG_PATH=$velnar_audio_dir/asound.conf" ;;
        *) echo "usage: source ${0}  |  bash ${0} start|stop" >&2; exit 2 ;;
    esac
else
    velnar_audio_start && export PULSE_SERVER="unix:$velnar_audio_dir/native" \
        ALSA_CONFIG_PATH="$velnar_audio_dir/asound.conf"
fi
