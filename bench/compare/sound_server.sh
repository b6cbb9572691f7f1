# shellcheck shell=bash
# Sourced by run.sh: the private sound server every contender plays to,
# PulseAudio or PipeWire with its pulse server, behind one set of calls.
#
#   server_start KIND WORK SINK SHM   KIND pulseaudio or pipewire, SHM yes or
#                                     no; sets SERVER_PIDS, exports
#                                     PULSE_SERVER
#   server_capture FILE               records the sink's monitor (s16le
#                                     stereo 48 kHz), returns once data flows
#   server_capture_stop
#   server_stop                       also ends a capture still running
#   server_ticks                      utime + stime of SERVER_PIDS together
#   server_graph_latency              PipeWire: the smallest node.latency
#                                     of the graph now ("256/48000"), from
#                                     pw-dump; nothing elsewhere
#
# SERVER_PIDS are the server's own processes, started here and known by
# PID: pulseaudio, or pipewire, pipewire-pulse and wireplumber.

SERVER_KIND=""
SERVER_PIDS=""

server_start() {
    SERVER_KIND="$1"
    local work="$2" sink="$3" shm="$4"
    local here
    here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
    case "$SERVER_KIND" in
        pulseaudio)
            # shellcheck source=/dev/null
            source "$here/scripts/private-pulse.sh"
            PRIVATE_PULSE_SHM="$shm" private_pulse_start "$work" "$sink" || return 1
            SERVER_PIDS="$PRIVATE_PULSE_PID"
            ;;
        pipewire)
            # PipeWire's pulse server (0.3.65) carries a pulse client's
            # samples over the socket whatever the client offers: the
            # client maps no pool of the server's.
            # shellcheck source=/dev/null
            source "$here/scripts/private-pipewire.sh"
            private_pipewire_start "$work" "$sink" || return 1
            SERVER_PIDS="$PRIVATE_PIPEWIRE_PID $PRIVATE_PIPEWIRE_PULSE_PID $PRIVATE_WIREPLUMBER_PID"
            ;;
        *)
            echo "unknown sound server: $SERVER_KIND" >&2
            return 1
            ;;
    esac
}

server_capture() {
    case "$SERVER_KIND" in
        pulseaudio) private_pulse_capture "$1" ;;
        pipewire) private_pipewire_capture "$1" ;;
    esac
}

server_capture_stop() {
    case "$SERVER_KIND" in
        pulseaudio) private_pulse_capture_stop ;;
        pipewire) private_pipewire_capture_stop ;;
    esac
}

server_stop() {
    case "$SERVER_KIND" in
        pulseaudio) private_pulse_stop ;;
        pipewire) private_pipewire_stop ;;
    esac
    SERVER_PIDS=""
}

server_ticks() {
    local pid total=0 ticks
    for pid in $SERVER_PIDS; do
        ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null) || return 1
        total=$((total + ticks))
    done
    echo "$total"
}

# pw-dump costs the daemon a good deal (it enumerates every node's
# parameters), so it is for a quiet moment, not for sampling a run.
server_graph_latency() {
    [ "$SERVER_KIND" = pipewire ] || return 0
    timeout -k 1 10 pw-dump 2>/dev/null | awk '
        /"node\.latency": *"[0-9]+\/[0-9]+"/ {
            v = $0
            sub(/.*"node\.latency": *"/, "", v)
            sub(/".*/, "", v)
            split(v, q, "/")
            if (q[2] > 0 && (best == "" || q[1] / q[2] < least)) { best = v; least = q[1] / q[2] }
        }
        END { if (best != "") print best }'
}
