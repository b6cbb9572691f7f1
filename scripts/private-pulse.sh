# Source this file: a private PulseAudio server with one null sink, for tests
# on machines with no sound card. Uses its own socket and sink name, so other
# servers on the machine are left alone.
#
#   source scripts/private-pulse.sh
#   private_pulse_start "$work_dir" [sink_name]   # exports PULSE_SERVER
#   private_pulse_start_temp [sink_name]           # the same in a new temporary
#                                                  # directory (PRIVATE_PULSE_WORK)
#                                                  # that private_pulse_stop removes
#   private_pulse_capture FILE [SINK]             # records the sink, returns once data flows
#   ...  play something ...
#   private_pulse_capture_stop                     # after letting the tail through
#   private_pulse_stop                             # also ends a capture still running
#
# Optional, read at start:
#   PRIVATE_PULSE_SHM=yes        shared memory (memfd) between clients and the
#                                server, as desktops run it; by default (no)
#                                every sample goes over the socket
#   PRIVATE_PULSE_SINK_ARGS      more arguments to the null sink's module
#                                ("format=float32le", say)
#   PRIVATE_PULSE_CAPTURE_FORMAT the capture's sample format (default s16le)
#
# Needs: pulseaudio pulseaudio-utils (pactl, parec).

private_pulse_start() {
    local work="$1"
    PRIVATE_PULSE_SINK="${2:-mivotest}"
    PRIVATE_PULSE_WORK="$work"
    export XDG_RUNTIME_DIR="$work/xdg"
    export PULSE_SERVER="unix:$work/xdg/pulse/native"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$work/pahome"
    local disable_shm=yes
    [ "${PRIVATE_PULSE_SHM:-no}" = yes ] && disable_shm=no
    HOME="$work/pahome" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
        --system=false --disable-shm="$disable_shm" --log-target="file:$work/pulse.log" \
        --load="module-null-sink sink_name=$PRIVATE_PULSE_SINK rate=48000 channels=2 norewinds=1 ${PRIVATE_PULSE_SINK_ARGS:-}" \
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

private_pulse_start_temp() {
    PRIVATE_PULSE_TEMP="$(mktemp -d "${TMPDIR:-/tmp}/mivo-pulse-XXXXXX")" || return 1
    private_pulse_start "$PRIVATE_PULSE_TEMP" "$@"
}

# Records the monitor of SINK (default: the server's first sink) as raw
# 48 kHz stereo (s16le, or PRIVATE_PULSE_CAPTURE_FORMAT) into FILE, in the
# background, and returns once the file has data (1 if it never does).
# Several captures may run at once.
private_pulse_capture() {
    local file="$1" sink="${2:-$PRIVATE_PULSE_SINK}"
    rm -f "$file"
    parec --latency-msec=20 -d "$sink.monitor" --format="${PRIVATE_PULSE_CAPTURE_FORMAT:-s16le}" \
        --rate=48000 --channels=2 --raw >"$file" 2>"$PRIVATE_PULSE_WORK/parec.log" &
    local recorder=$!
    PRIVATE_PULSE_RECORDERS="${PRIVATE_PULSE_RECORDERS:-} $recorder"
    local tries=0
    until [ -s "$file" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$recorder" 2>/dev/null; then
            echo "the capture of $sink did not start:" >&2
            cat "$PRIVATE_PULSE_WORK/parec.log" >&2
            return 1
        fi
        sleep 0.1
    done
}

# Stops every capture still running.
private_pulse_capture_stop() {
    local recorder
    for recorder in ${PRIVATE_PULSE_RECORDERS:-}; do
        kill "$recorder" 2>/dev/null || true
        wait "$recorder" 2>/dev/null || true
    done
    PRIVATE_PULSE_RECORDERS=
}

private_pulse_stop() {
    private_pulse_capture_stop
    if [ -n "${PRIVATE_PULSE_PID:-}" ]; then
        kill "$PRIVATE_PULSE_PID" 2>/dev/null || true
        wait "$PRIVATE_PULSE_PID" 2>/dev/null || true
        PRIVATE_PULSE_PID=
    fi
    if [ -n "${PRIVATE_PULSE_TEMP:-}" ]; then
        rm -rf "$PRIVATE_PULSE_TEMP"
        PRIVATE_PULSE_TEMP=
    fi
}
