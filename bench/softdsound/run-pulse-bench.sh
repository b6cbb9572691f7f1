#!/usr/bin/env bash
# Runs mivo-device-bench against a private PulseAudio null sink, capturing
# the sink's monitor to count gaps (stretches of silence inside the tone).
#   bench/softdsound/run-pulse-bench.sh BUILD_DIR [SECONDS] [BLOCKS_MS...]
# e.g. bench/softdsound/run-pulse-bench.sh build/release 30 5 10 20
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?build folder, e.g. build/release}" && pwd)"
seconds="${2:-30}"
shift $(( $# > 2 ? 2 : $# ))
blocks=("$@")
[ ${#blocks[@]} -gt 0 ] || blocks=(5 10 20)

work="$(mktemp -d "${TMPDIR:-/tmp}/mivo-bench-XXXXXX")"
# shellcheck source=/dev/null
source "$root/scripts/private-pulse.sh"
cleanup() {
    private_pulse_stop
    rm -rf "$work"
}
trap cleanup EXIT

private_pulse_start "$work" mivobench
for block in "${blocks[@]}"; do
    capture="$work/capture-$block.raw"
    private_pulse_capture "$capture"
    SDL_AUDIODRIVER=pulseaudio "$build/bin/mivo-device-bench" --seconds "$seconds" \
        --blocks-ms "$block"
    sleep 1
    private_pulse_capture_stop
    python3 "$root/tests/softdsound/tone_check.py" "$capture" --hertz 1000 --amplitude 16383 \
        --seconds "$seconds" | grep -E "gaps|FAIL" | sed "s/^/  block=${block}ms monitor: /" || true
done
