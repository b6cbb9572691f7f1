# Source this file: a private PulseAudio server with one null sink, for tests
# on machines with no sound card. Uses its own socket and sink name, so other
# servers on the machine are left alone.
#
#   source scripts/private-pulse.sh
#   private_pulse_start "$work_dir" [sink_name]   # exports PULSE_SERVER
#   ...  parec -d "$PRIVATE_PULSE_SINK.monitor" ...
#   private_pulse_stop
#
# Needs: pulseaudio pulseaudio-utils (pactl, parec).

private_pulse_start() {
    local work="$1"
    PRIVATE_PULSE_SINK="${2:-mivotest}"
    PRIVATE_PULSE_WORK="$work"
    export XDG_RUNTIME_DIR="$work/xdg"
    export PULSE_SERVER="unix:$work/xdg/pulse/native"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$work/pahome"
    HOME="$work/pahome" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
        --system=false --disable-shm=yes --log-target="file:$work/pulse.log" \
        --load="module-null-sink sink_name=$PRIVATE_PULSE_SINK rate=48000 channels=2 norewinds=1" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native" \
        >/dev/null 2>&1 &
    PRIVATE_PULSE_PID=$!
    export PRIVATE_PULSE_SINK PRIVATE_PULSE_PID PRIVATE_PULSE_WORK
    local tries=0
    until pactl info >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$PRIVATE_PULSE_PID" 2>/dev/null; then
            echo "private pulseaudio did not start; log:" >&2
            cat "$work/pulse.log" >&2 2>/dev/null
            return 1
        fi
        sleep 0.1
    done
    # Make the null sink the default so that any client plays into it.
    pactl set-default-sink "$PRIVATE_PULSE_SINK" >/dev/null 2>&1 || true
}

private_pulse_stop() {
    if [ -n "${PRIVATE_PULSE_PID:-}" ]; then
        kill "$PRIVATE_PULSE_PID" 2>/dev/null || true
        wait "$PRIVATE_PULSE_PID" 2>/dev/null || true
        PRIVATE_PULSE_PID=
    fi
}
