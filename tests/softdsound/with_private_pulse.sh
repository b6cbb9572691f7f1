#!/usr/bin/env bash
# Runs a command with a private PulseAudio server (one null sink) started for
# it and stopped after it; skipped (77) where PulseAudio is not installed.
#   with_private_pulse.sh PRIVATE_PULSE_SH COMMAND [ARG...]
set -euo pipefail
helper="$1"
shift

for tool in pulseaudio pactl; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is not installed: skipped"
        exit 77
    fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/mivo-pulse-XXXXXX")"
# shellcheck source=/dev/null
source "$helper"
cleanup() {
    private_pulse_stop
    rm -rf "$work"
}
trap cleanup EXIT

private_pulse_start "$work" mivodevice
"$@"
