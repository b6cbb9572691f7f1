#!/usr/bin/env bash
# Plays a tone through mivo-play into a private PulseAudio null sink and
# checks what the sink's monitor heard.
#   pulse_tone_test.sh MIVO_PLAY PRIVATE_PULSE_SH TONE_CHECK_PY
set -euo pipefail
play="$1" helper="$2" checker="$3"

for tool in pulseaudio pactl parec python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is not installed: skipped"
        exit 77
    fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/mivo-pulse-XXXXXX")"
recorder=""
# shellcheck source=/dev/null
source "$helper"
cleanup() {
    if [ -n "$recorder" ]; then
        kill "$recorder" 2>/dev/null || true
        wait "$recorder" 2>/dev/null || true
    fi
    private_pulse_stop
    rm -rf "$work"
}
trap cleanup EXIT

private_pulse_start "$work" mivotone
parec --latency-msec=20 -d mivotone.monitor --format=s16le --rate=48000 --channels=2 --raw \
    >"$work/capture.raw" &
recorder=$!
for _ in $(seq 100); do
    [ -s "$work/capture.raw" ] && break
    sleep 0.05
done
[ -s "$work/capture.raw" ] || { echo "the monitor captured nothing"; exit 1; }

SDL_AUDIODRIVER=pulseaudio timeout -k 5 30 "$play" --no-fallback --tone 1000 --seconds 2
sleep 1
kill "$recorder"
wait "$recorder" 2>/dev/null || true
recorder=""

# mivo-play's tone: half of full scale, both channels, 2 s.
python3 "$checker" "$work/capture.raw" --hertz 1000 --amplitude 16383 --seconds 2
