#!/usr/bin/env bash
# Plays a tone through mivo-play into a private PulseAudio null sink and
# checks what the sink's monitor heard. The device is held to its libpulse
# backend: with no server it fails instead of falling back to SDL.
#   pulse_tone_test.sh MIVO_PLAY PRIVATE_PULSE_SH TONE_CHECK_PY
set -euo pipefail
play="$1" helper="$2" checker="$3"

# shellcheck source=tests/softdsound/require_tools.sh
source "$(dirname "$0")/require_tools.sh"
require_tools pulseaudio pactl parec python3

# shellcheck source=/dev/null
source "$helper"
trap private_pulse_stop EXIT
private_pulse_start_temp mivotone
work="$PRIVATE_PULSE_WORK"
private_pulse_capture "$work/capture.raw" || exit 1

unset SDL_AUDIODRIVER
MIVO_DSOUND_BACKEND=pulse timeout -k 5 30 "$play" --no-fallback --tone 1000 --seconds 2
sleep 1
private_pulse_capture_stop

# mivo-play's tone: half of full scale, both channels, 2 s, all of it: closing
# the device plays out what the server holds.
python3 "$checker" "$work/capture.raw" --hertz 1000 --amplitude 16383 --seconds 2 --within 0.006
