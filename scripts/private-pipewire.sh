# Source this file: a private, headless PipeWire (pipewire, wireplumber and
# its pulse protocol server) with one null sink, for tests on machines with no
# sound card. Uses its own runtime dir, sockets, config, state and sink name,
# so other servers on the machine are left alone.
#
#   source scripts/private-pipewire.sh
#   private_pipewire_start "$work_dir" [sink_name]  # exports XDG_RUNTIME_DIR,
#                                                    # PIPEWIRE_RUNTIME_DIR, PULSE_SERVER
#   private_pipewire_capture FILE                   # records the sink, returns once data flows
#   ...  play something (pulse clients, SDL_AUDIODRIVER=pipewire or pulseaudio) ...
#   private_pipewire_capture_stop                   # after letting the tail through
#   private_pipewire_stop                           # also ends a capture still running
#
# Optional, read at start:
#   PRIVATE_PIPEWIRE_MIN_QUANTUM   shortest graph cycle, in frames at 48 kHz (default 32;
#                                  the graph runs at the shortest its streams ask for,
#                                  and a client late by a cycle leaves a gap)
#
# Needs: pipewire pipewire-bin wireplumber libpipewire-0.3-modules
# libspa-0.2-modules pulseaudio-utils (pactl, parec). Not pipewire-alsa, which
# makes apt remove the PulseAudio server the other tests use.

private_pipewire_start() {
    local work="$1"
    PRIVATE_PIPEWIRE_SINK="${2:-mivotest}"
    PRIVATE_PIPEWIRE_WORK="$work"
    local xdg="$work/xdg" conf="$work/pwconf" cfghome="$work/pwconfig"
    local min_quantum="${PRIVATE_PIPEWIRE_MIN_QUANTUM:-32}"
    local quantum=$((min_quantum > 1024 ? min_quantum : 1024))
    local max_quantum=$((min_quantum > 2048 ? min_quantum : 2048))
    local pulse_min_quantum=$((min_quantum > 256 ? min_quantum : 256))
    # Stale state would let wireplumber restore another default sink.
    rm -rf "$work/pwstate"
    mkdir -p "$xdg/pulse" "$conf" "$work/pwstate" "$work/pwhome" \
        "$cfghome/wireplumber/main.lua.d" "$cfghome/wireplumber/bluetooth.lua.d"
    # The sockets are this user's alone, as in a real session.
    chmod 700 "$xdg" "$xdg/pulse"

    # The stock daemon config, less what wants a desktop (portal, x11 bell)
    # and the virtual-machine overrides that would quietly raise the quantum.
    # The sink is created with the daemon, so it is there before any client.
    # module-rt, where allowed, keeps the graph's cycles on time on a busy
    # machine; elsewhere it is skipped.
    cat >"$conf/pipewire.conf" <<EOF
context.properties = {
    core.daemon = true
    core.name   = pipewire-0
    link.max-buffers = 16
    default.clock.rate          = 48000
    default.clock.allowed-rates = [ 48000 ]
    default.clock.quantum       = $quantum
    default.clock.min-quantum   = $min_quantum
    default.clock.max-quantum   = $max_quantum
    support.dbus = false
    log.level = 2
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-profiler }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Dummy-Driver
                 node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Freewheel-Driver
                 priority.driver = 19000 node.group = pipewire.freewheel node.freewheel = true } }
    { factory = adapter
        args = {
            factory.name     = support.null-audio-sink
            node.name        = "$PRIVATE_PIPEWIRE_SINK"
            node.description = "mivo test sink"
            media.class      = "Audio/Sink"
            audio.rate       = 48000
            audio.position   = [ FL FR ]
            monitor.channel-volumes = true
            priority.session = 2000
            priority.driver  = 2000
        }
    }
]
EOF
    # What pipewire-pulse runs, on a socket inside our runtime dir. It sizes
    # pulse clients' buffers from its own floor (256 frames), raised with the
    # daemon's minimum so that a buffer still covers a whole graph cycle.
    cat >"$conf/pipewire-pulse.conf" <<EOF
context.properties = { support.dbus = false log.level = 2 }
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse args = { } }
]
pulse.properties = {
    server.address = [ "unix:$xdg/pulse/native" ]
    pulse.min.quantum = $pulse_min_quantum/48000
}
EOF
    # Without a session manager nothing links a stream to the sink. Stock
    # wireplumber exits without a D-Bus session bus unless the monitors that
    # want one (hardware, cameras, flatpak portal, bluetooth) are off.
    cat >"$cfghome/wireplumber/main.lua.d/51-mivo-headless.lua" <<'EOF'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
EOF
    echo 'bluez_monitor.enabled = false' >"$cfghome/wireplumber/bluetooth.lua.d/51-mivo-headless.lua"

    export XDG_RUNTIME_DIR="$xdg" PIPEWIRE_RUNTIME_DIR="$xdg"
    export PULSE_SERVER="unix:$xdg/pulse/native"
    unset PIPEWIRE_REMOTE
    # Own HOME and XDG dirs and no session bus: the servers neither read the
    # user's config nor register on a desktop's bus.
    local -a senv=(env -u DBUS_SESSION_BUS_ADDRESS -u PULSE_RUNTIME_PATH -u PIPEWIRE_CONFIG_DIR
        HOME="$work/pwhome" XDG_CONFIG_HOME="$cfghome" XDG_STATE_HOME="$work/pwstate"
        XDG_RUNTIME_DIR="$xdg" PIPEWIRE_RUNTIME_DIR="$xdg")

    "${senv[@]}" pipewire -c "$conf/pipewire.conf" >"$work/pipewire.log" 2>&1 &
    PRIVATE_PIPEWIRE_PID=$!
    export PRIVATE_PIPEWIRE_SINK PRIVATE_PIPEWIRE_WORK PRIVATE_PIPEWIRE_PID
    local tries=0
    until [ -S "$xdg/pipewire-0" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$PRIVATE_PIPEWIRE_PID" 2>/dev/null; then
            echo "private pipewire did not start; log:" >&2
            cat "$work/pipewire.log" >&2 || true
            private_pipewire_stop
            return 1
        fi
        sleep 0.05
    done
    "${senv[@]}" wireplumber >"$work/wireplumber.log" 2>&1 &
    PRIVATE_WIREPLUMBER_PID=$!
    "${senv[@]}" pipewire -c "$conf/pipewire-pulse.conf" >"$work/pipewire-pulse.log" 2>&1 &
    PRIVATE_PIPEWIRE_PULSE_PID=$!
    export PRIVATE_WIREPLUMBER_PID PRIVATE_PIPEWIRE_PULSE_PID
    # The pulse socket answering is not enough: until wireplumber has chosen
    # our sink as the default, streams are left unlinked.
    tries=0
    until [ "$(timeout -k 1 5 pactl get-default-sink 2>/dev/null)" = "$PRIVATE_PIPEWIRE_SINK" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 200 ] || ! kill -0 "$PRIVATE_PIPEWIRE_PID" 2>/dev/null \
            || ! kill -0 "$PRIVATE_WIREPLUMBER_PID" 2>/dev/null \
            || ! kill -0 "$PRIVATE_PIPEWIRE_PULSE_PID" 2>/dev/null; then
            echo "private pipewire is not ready; logs:" >&2
            cat "$work/pipewire.log" "$work/wireplumber.log" "$work/pipewire-pulse.log" >&2 || true
            private_pipewire_stop
            return 1
        fi
        sleep 0.05
    done
}

# Records the sink's monitor as raw s16le 48 kHz stereo into FILE, in the
# background, and returns once the file has data (1 if it never does).
private_pipewire_capture() {
    local file="$1"
    rm -f "$file"
    parec --latency-msec=20 -d "$PRIVATE_PIPEWIRE_SINK.monitor" --format=s16le --rate=48000 \
        --channels=2 --raw >"$file" 2>"$PRIVATE_PIPEWIRE_WORK/parec.log" &
    PRIVATE_PIPEWIRE_RECORDER=$!
    local tries=0
    until [ -s "$file" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$PRIVATE_PIPEWIRE_RECORDER" 2>/dev/null; then
            echo "the capture of $PRIVATE_PIPEWIRE_SINK did not start; logs:" >&2
            # parec usually says nothing: the servers may say why it was never linked.
            cat "$PRIVATE_PIPEWIRE_WORK/parec.log" "$PRIVATE_PIPEWIRE_WORK/pipewire.log" \
                "$PRIVATE_PIPEWIRE_WORK/wireplumber.log" "$PRIVATE_PIPEWIRE_WORK/pipewire-pulse.log" >&2 || true
            return 1
        fi
        sleep 0.1
    done
}

# Ends one process by PID: politely, then, after 3 s, for certain, so that
# neither a test nor its caller can hang on it.
private_pipewire_end() {
    local pid="$1" i=0
    kill "$pid" 2>/dev/null || true
    while kill -0 "$pid" 2>/dev/null && [ "$i" -lt 60 ]; do
        sleep 0.05
        i=$((i + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

private_pipewire_capture_stop() {
    if [ -n "${PRIVATE_PIPEWIRE_RECORDER:-}" ]; then
        private_pipewire_end "$PRIVATE_PIPEWIRE_RECORDER"
        PRIVATE_PIPEWIRE_RECORDER=
    fi
}

# Clients of the daemon go first, so that it does not log their loss.
private_pipewire_stop() {
    private_pipewire_capture_stop
    local name
    for name in PRIVATE_PIPEWIRE_PULSE_PID PRIVATE_WIREPLUMBER_PID PRIVATE_PIPEWIRE_PID; do
        if [ -n "${!name:-}" ]; then
            private_pipewire_end "${!name}"
            printf -v "$name" '%s' ""
        fi
    done
}
