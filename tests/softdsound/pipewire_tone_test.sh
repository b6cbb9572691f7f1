#!/usr/bin/env bash
# Plays a tone through mivo-play into a private PipeWire null sink, once over
# each way a client reaches PipeWire, and checks what the sink's monitor heard.
#   pipewire_tone_test.sh MIVO_PLAY PRIVATE_PIPEWIRE_SH TONE_CHECK_PY
set -euo pipefail
play="$1" helper="$2" checker="$3"

# shellcheck source=tests/softdsound/require_tools.sh
source "$(dirname "$0")/require_tools.sh"
require_tools pipewire wireplumber pw-dump pactl parec python3

work="$(mktemp -d "${TMPDIR:-/tmp}/mivo-pipewire-XXXXXX")"
# shellcheck source=/dev/null
source "$helper"
cleanup() {
    private_pipewire_stop
    rm -rf "$work"
}
trap cleanup EXIT

# The graph's cycle is as short as its shortest stream asks (mivo's period
# is 21 ms), and a client late for a cycle leaves that whole cycle silent. On
# a busy two-core machine runs lost a cycle now and then at 1024 and 2048
# frames, most often in the sanitizer builds; at 4096 (85 ms) about one run
# in thirty did, and only with both cores otherwise saturated.
quantum=4096
PRIVATE_PIPEWIRE_MIN_QUANTUM=$quantum private_pipewire_start "$work" mivopwtone

# Each route is given only its own way in: the other protocol's socket points
# into an empty folder, so a device that quietly took the other way (or
# another server) plays nothing into the capture.
none="$work/none"
mkdir -p "$none"
routes=(
    # Nothing asked, both protocols answering: the device finds PipeWire
    # behind the pulse server and plays on a native stream.
    "native"
    # The pulse protocol, served by pipewire-pulse; MIVO_DSOUND_BACKEND=pulse
    # asks the device for its own libpulse output where it has one.
    "pulse MIVO_DSOUND_BACKEND=pulse PIPEWIRE_RUNTIME_DIR=$none XDG_RUNTIME_DIR=$none"
    # SDL's own PipeWire driver, on the native protocol. It hands over exactly
    # one device period per graph cycle, so a period shorter than the cycle
    # would leave the rest of every cycle silent.
    "pipewire SDL_AUDIODRIVER=pipewire MIVO_DSOUND_PERIOD_FRAMES=$quantum PULSE_SERVER=unix:$none/native XDG_RUNTIME_DIR=$none"
    # Nothing asked, and no pulse server answering: the device falls back to
    # SDL, which takes its PipeWire driver first.
    "fallback MIVO_DSOUND_PERIOD_FRAMES=$quantum PULSE_SERVER=unix:$none/native XDG_RUNTIME_DIR=$none"
)

failed=()
for route in "${routes[@]}"; do
    read -r name settings <<<"$route"
    echo "== $name: $settings"
    private_pipewire_capture "$work/$name.raw" || exit 1
    # shellcheck disable=SC2086 # the settings are words for env
    env -u SDL_AUDIODRIVER -u MIVO_DSOUND_BACKEND -u MIVO_DSOUND_PERIOD_FRAMES $settings \
        timeout -k 5 30 "$play" --no-fallback --tone 440 --seconds 2 &
    player=$!
    # Which protocol the device's stream came in by, while it plays.
    sleep 1
    pw-dump >"$work/$name.graph" 2>/dev/null || true
    wait "$player" || failed+=("$name (mivo-play failed)")
    if [ "$name" = native ] && ! python3 - "$work/$name.graph" <<'PY'; then
import json, sys
nodes = [o["info"]["props"] for o in json.load(open(sys.argv[1]))
         if o.get("type") == "PipeWire:Interface:Node" and o.get("info")]
mine = [p for p in nodes if p.get("node.name") == "DirectSound"]
sys.exit(0 if mine and all(p.get("client.api") != "pipewire-pulse" for p in mine) else 1)
PY
        failed+=("$name (no native stream in the graph)")
    fi
    # The tail still in the server's buffers.
    sleep 1
    private_pipewire_capture_stop
    # mivo-play's tone: half of full scale, both channels, 2 s; without gaps
    # on the routes chosen by name (the fallback is there for the choice: a
    # gap there only lengthens the tone).
    gaps=(--max-gaps 0)
    [ "$name" = fallback ] && gaps=(--at-least)
    if ! python3 "$checker" "$work/$name.raw" --hertz 440 --amplitude 16383 --seconds 2 \
        "${gaps[@]}"; then
        failed+=("$name")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAIL: ${failed[*]}"
    exit 1
fi
