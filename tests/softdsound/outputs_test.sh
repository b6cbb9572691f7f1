#!/usr/bin/env bash
# Output choice and a lost output, on a private PulseAudio server with two
# null sinks of one description, as a user of mivo-play meets them:
#   - the outputs are listed with the same GUIDs by two processes, each with
#     its sink's name; the shared description picks neither;
#   - playing by the second sink's GUID or name is heard there and not on
#     the first;
#   - unloading that sink mid-stream loses the stream, loading it again
#     restores it, and the tone sounds before and after;
#   - a stream on the default output follows a change of the default.
#   outputs_test.sh MIVO_PLAY PRIVATE_PULSE_SH TONE_CHECK_PY
set -euo pipefail
play="$1" helper="$2" checker="$3"

# shellcheck source=tests/softdsound/require_tools.sh
source "$(dirname "$0")/require_tools.sh"
require_tools pulseaudio pactl parec python3

# shellcheck source=/dev/null
source "$helper"
player=""
cleanup() {
    [ -n "$player" ] && kill "$player" 2>/dev/null
    private_pulse_stop
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

private_pulse_start_temp mivofirst
work="$PRIVATE_PULSE_WORK"
second_sink() {
    pactl load-module module-null-sink sink_name=mivosecond rate=48000 channels=2 norewinds=1
}
module=$(second_sink)
unset SDL_AUDIODRIVER
export MIVO_DSOUND_BACKEND=pulse
tone() { python3 "$checker" --hertz 440 --amplitude 16383 "$@"; }

echo "--- the outputs, listed twice"
"$play" --list-devices >"$work/list1"
"$play" --list-devices >"$work/list2"
cat "$work/list1"
cmp -s "$work/list1" "$work/list2" || fail "two listings differ"
[ "$(wc -l <"$work/list1")" -eq 3 ] || fail "not the default and two sinks"
for sink in mivofirst mivosecond; do
    grep -q "  Null Output  ($sink)\$" "$work/list1" || fail "$sink is not listed by its name"
done
guid=$(awk '$NF == "(mivosecond)" {print $2}' "$work/list1")
[ -n "$guid" ] || fail "the second sink has no GUID"
refused=0
"$play" --no-fallback --device "Null Output" --tone 440 >"$work/refusal" 2>&1 || refused=$?
if [ "$refused" != 3 ] || ! grep -q "outputs 1 (mivofirst), 2 (mivosecond)" "$work/refusal"; then
    fail "a description two sinks share was not refused (exit $refused): $(cat "$work/refusal")"
fi

for device in "$guid" mivosecond; do
    echo "--- played by --device $device"
    private_pulse_capture "$work/first.raw" mivofirst
    private_pulse_capture "$work/second.raw" mivosecond
    timeout -k 5 30 "$play" --no-fallback --device "$device" --tone 440 --seconds 1.5
    sleep 0.5
    private_pulse_capture_stop
    tone --seconds 1.5 "$work/second.raw"
    heard=$(tone --seconds 1.5 "$work/first.raw" || true)
    [[ "$heard" == "no tone"* ]] || fail "the first sink heard it too: $heard"
done

echo "--- the second sink unloaded and loaded again mid-stream"
private_pulse_capture "$work/before.raw" mivosecond
timeout -k 5 30 "$play" --no-fallback --device "$guid" --tone 440 --seconds 5 \
    >"$work/play.log" 2>&1 &
player=$!
sleep 2
pactl unload-module "$module"
sleep 1
module=$(second_sink)
private_pulse_capture "$work/after.raw" mivosecond
wait "$player" || { cat "$work/play.log"; fail "mivo-play did not play on"; }
player=""
sleep 0.5
private_pulse_capture_stop
cat "$work/play.log"
grep -q "lost" "$work/play.log" || fail "the loss was not reported"
grep -q "back" "$work/play.log" || fail "the recovery was not reported"
tone --at-least --seconds 1.5 "$work/before.raw"
tone --at-least --seconds 1.5 "$work/after.raw"

echo "--- the default output changed mid-stream"
pactl set-default-sink mivofirst
private_pulse_capture "$work/old.raw" mivofirst
private_pulse_capture "$work/new.raw" mivosecond
timeout -k 5 30 "$play" --no-fallback --tone 440 --seconds 4 &
player=$!
sleep 1.5
pactl set-default-sink mivosecond
wait "$player" || fail "mivo-play failed on the default output"
player=""
sleep 0.5
private_pulse_capture_stop
tone --at-least --seconds 1 "$work/old.raw"
tone --at-least --seconds 1.5 "$work/new.raw"
