#!/usr/bin/env bash
# mivo-play's command line: its help and refusals, the outputs it lists and
# picks, sound files rendered into a file through the device and SDL's disk
# driver, its fallback without a sound device, and streaming through a lost
# output (mivo-play-recovery-check, mivo-play's player on the device's hooks).
#   mivo_play_test.sh MIVO_PLAY TONE_CHECK_PY RECOVERY_CHECK
set -euo pipefail
play="$1" checker="$2" recovery="$3"
work="$(mktemp -d "${TMPDIR:-/tmp}/mivo-play-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# In CI a missing tool is a failure; elsewhere the cases needing it are skipped.
have() {  # COMMAND_OR_PATH
    command -v "$1" >/dev/null && return 0
    if [ "${CI:-}" = "true" ]; then fail "$1 is missing"; else echo "SKIP: $1 is missing"; fi
    return 1
}

expect_exit() {  # CODE MESSAGE_PATTERN ARGS...
    local code="$1" pattern="$2" got=0
    shift 2
    "$play" "$@" >out.txt 2>&1 || got=$?
    [ "$got" = "$code" ] || fail "mivo-play $* exited $got, not $code: $(cat out.txt)"
    grep -q -- "$pattern" out.txt || fail "mivo-play $* did not say '$pattern': $(cat out.txt)"
    if grep -q CRITICAL out.txt; then fail "mivo-play $* printed SDL's CRITICAL lines: $(cat out.txt)"; fi
}

expect_exit 0 "usage: mivo-play" --help
expect_exit 1 "usage" --tone
expect_exit 1 "either --tone or a file" --tone 440 some.wav
expect_exit 1 "unknown or incomplete option --device" --device ""
expect_exit 2 "cannot open missing.wav" missing.wav
printf 'not a sound file %.0s' {1..64} >garbage.wav
expect_exit 2 "garbage.wav is not a sound file" garbage.wav

# Output 0 is the default output, listed whether or not the platform can
# enumerate; it answers to its index, its GUID (braces or not) and its name.
null_guid="{00000000-0000-0000-0000-000000000000}"
expect_exit 0 "^0  $null_guid  " --list-devices
default_name="$(sed -n "s/^0  $null_guid  //p" out.txt)"
for device in 0 "$null_guid" "${null_guid:1:36}" "$default_name"; do
    expect_exit 0 "wrote picked.wav" --device "$device" --to-file picked.wav --tone 440 --seconds 0.05
done
# The GUID comes back in Windows' own spelling, field by field.
expect_exit 3 "no output {12345678-9ABC-DEF0-1234-56789ABCDEF0}" \
    --device "12345678-9abc-def0-1234-56789abcdef0" --tone 440
expect_exit 3 "there is no output 99" --device 99 --tone 440
expect_exit 3 'no output named "No Such Output"' --device "No Such Output" --tone 440

# Files sox makes come back as they were, within conversion error (none for
# integers of up to 24 bits; float goes through 32-bit integers).
if have sox; then
    sox -n -c 9 nine.wav synth 0.01 sine 440
    expect_exit 2 "nine.wav has 9 channels" nine.wav
    while read -r name options; do
        # shellcheck disable=SC2086
        sox -n $options "$name" synth 0.3 sine 440 0 25 gain -3
        expect_exit 0 "wrote out.wav" --to-file out.wav "$name"
        python3 - "$name" out.wav <<'PY' || fail "out.wav does not hold what $name holds"
import array, subprocess, sys
def samples(path):
    raw = subprocess.run(["sox", path, "-t", "raw", "-e", "floating-point", "-b", "64", "-"],
                         check=True, capture_output=True).stdout
    return array.array("d", raw)
want, got = samples(sys.argv[1]), samples(sys.argv[2])
error = max((abs(a - b) for a, b in zip(want, got)), default=1.0)
print("%s: %d samples, %d back, largest error %g" % (sys.argv[1], len(want), len(got), error))
sys.exit(0 if len(want) == len(got) and error <= 2.0 ** -24 else 1)
PY
    done <<'FILES'
in24.wav -r 44100 -c 3 -b 24
float.wav -r 48000 -c 2 -e floating-point -b 32
in.flac -r 22050 -c 1 -b 16
FILES
fi

# No sound device: the tone goes into mivo-play.wav instead, unless refused.
SDL_AUDIODRIVER=no-such-driver expect_exit 0 "no sound device; rendering into mivo-play.wav" \
    --tone 1000 --seconds 1
tail -c +45 mivo-play.wav >tone.raw
python3 "$checker" tone.raw --hertz 1000 --amplitude 16383 --seconds 1 --max-gaps 0 ||
    fail "mivo-play.wav does not hold the tone"
SDL_AUDIODRIVER=no-such-driver expect_exit 3 "no sound device" --no-fallback --tone 440

# A lost output: back after a few failed restores, the stream plays on; gone
# for good, it ends in an error.
got=0
SDL_AUDIODRIVER=disk "$recovery" 3 >out.txt 2>&1 || got=$?
if ! { [ "$got" = 0 ] && grep -q "lost the stream" out.txt && grep -q "back; playing on" out.txt; }; then
    fail "no recovery from a lost output (exit $got): $(cat out.txt)"
fi
got=0
SDL_AUDIODRIVER=disk "$recovery" 1000000 >out.txt 2>&1 || got=$?
if ! { [ "$got" = 1 ] && grep -q "stayed lost for 5 s" out.txt; }; then
    fail "an output lost for good did not end the stream (exit $got): $(cat out.txt)"
fi

[ "$failures" = 0 ]
