#!/usr/bin/env bash
# What the sound server itself spends to keep one stream at a given latency,
# before any client does any work: a bare `pacat` stream of silence, 48 kHz
# stereo 16-bit, on the same private null sink and with the same capture as
# run.sh, for each requested latency (tlength, with PA_STREAM_ADJUST_LATENCY
# and minreq an eighth of it, as mivo's device asks). Prints, per latency,
# the server's Buffer + Sink Latency for the stream (median of samples every
# 0.5 s) and pulseaudio's CPU per second with the idle server's taken off.
# This is the floor under the CPU row of run.sh's table at that latency.
# The server shares memory with its clients, as run.sh's does; --no-shm
# sends every sample over the socket, as run.sh --no-shm.
#
#   bench/compare/server_cost.sh [--seconds N] [--no-shm] [TLENGTH_MS ...]
#
# Default latencies: 8 12 16 20 30 45 60 ms; 10 s each.
set -uo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
seconds=10
shm=yes
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="${2:-}"; shift 2 ;;
        --no-shm) shm=no; shift ;;
        *) break ;;
    esac
done
case "$seconds" in '' | *[!0-9]*) echo "--seconds takes whole seconds" >&2; exit 2 ;; esac
[ "$seconds" -ge 2 ] || { echo "--seconds must be at least 2" >&2; exit 2; }
latencies="${*:-8 12 16 20 30 45 60}"
for tool in pulseaudio pactl parec pacat timeout; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

# shellcheck source=/dev/null
source "$source_dir/scripts/private-pulse.sh"
work="$(mktemp -d)"
trap 'private_pulse_stop; rm -rf "$work"' EXIT
PRIVATE_PULSE_SHM="$shm" private_pulse_start "$work/pulse" servercost || exit 1
private_pulse_capture "$work/capture.raw" || exit 1

server_ticks() { awk '{ print $14 + $15 }' "/proc/$PRIVATE_PULSE_PID/stat"; }
ticks_per_s=$(getconf CLK_TCK)
# CPU in ms per second over `seconds`, from two tick counts.
ms_per_s() { awk -v a="$1" -v b="$2" -v hz="$ticks_per_s" -v s="$seconds" 'BEGIN { printf "%.1f", (b - a) * 1000 / hz / s }'; }

before=$(server_ticks)
sleep "$seconds"
idle=$(ms_per_s "$before" "$(server_ticks)")
echo "shared memory: $shm; idle server with the capture running: $idle ms/s"
printf '%12s %12s %18s %20s\n' "tlength ms" "minreq ms" "latency p50 (ms)" "server-idle (ms/s)"
frame_bytes=4
for ms in $latencies; do
    tlength=$(awk -v ms="$ms" -v fb="$frame_bytes" 'BEGIN { printf "%d", ms * 48 * fb }')
    minreq=$(awk -v t="$tlength" -v fb="$frame_bytes" 'BEGIN { f = int(t / fb / 8); if (f < 1) f = 1; printf "%d", f * fb }')
    timeout -k 2 $((seconds + 4)) pacat --raw --format=s16le --rate=48000 --channels=2 \
        -d "$PRIVATE_PULSE_SINK" --latency="$tlength" --process-time="$minreq" </dev/zero &
    player=$!
    # Past the stream's start, where the server settles its buffer.
    sleep 2
    before=$(server_ticks)
    samples=""
    for _ in $(seq $((seconds * 2))); do
        sleep 0.5
        samples="$samples $(LC_ALL=C pactl list sink-inputs |
            awk '/Buffer Latency/ { b = $3 } /Sink Latency/ { s = $3 } END { if (b != "") print (b + s) / 1000 }')"
    done
    spent=$(ms_per_s "$before" "$(server_ticks)")
    kill "$player" 2>/dev/null
    wait "$player" 2>/dev/null
    median=$(echo "$samples" | tr ' ' '\n' | sed '/^$/d' | sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)]; else print "-" }')
    printf '%12s %12s %18s %20s\n' "$ms" "$(awk -v b="$minreq" -v fb="$frame_bytes" 'BEGIN { printf "%.2f", b / fb / 48 }')" \
        "$median" "$(awk -v a="$spent" -v i="$idle" 'BEGIN { printf "%.1f", a - i }')"
done
