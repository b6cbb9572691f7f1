#!/usr/bin/env bash
# Runs a command with a private PulseAudio server (one null sink) started for
# it and stopped after it; skipped (77) where PulseAudio is not installed.
#   with_private_pulse.sh PRIVATE_PULSE_SH COMMAND [ARG...]
set -euo pipefail
helper="$1"
shift

# shellcheck source=tests/softdsound/require_tools.sh
source "$(dirname "$0")/require_tools.sh"
require_tools pulseaudio pactl

# shellcheck source=/dev/null
source "$helper"
trap private_pulse_stop EXIT
private_pulse_start_temp mivodevice
"$@"
