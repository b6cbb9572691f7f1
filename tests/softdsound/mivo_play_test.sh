#!/usr/bin/env bash
# mivo-play's command line: its refusals, its rendering into a file through
# the device and SDL's disk driver, and its fallback without a sound device.
#   mivo_play_test.sh MIVO_PLAY TONE_CHECK_PY
set -euo pipefail
play="$1" checker="$2"
work="$(mktemp -d "${TMPDIR:-/tmp}/mivo-play-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

expect_exit() {  # CODE MESSAGE_PATTERN ARGS...
    local code="$1" pattern="$2" got=0
    shift 2
    "$play" "$@" >out.txt 2>&1 || got=$?
    [ "$got" = "$code" ] || fail "mivo-play $* exited $got, not $code"
    grep -q -- "$pattern" out.txt || fail "mivo-play $* did not say '$pattern': $(cat out.txt)"
}

expect_exit 2 "cannot open" missing.wav
printf 'RIFF\x04\x00\x00\x00WAVE' >empty.wav
expect_exit 2 "no format chunk" empty.wav
expect_exit 1 "usage" --tone
expect_exit 1 "either --tone or a file" --tone 440 some.wav

# A 24-bit, 3-channel extensible file comes back byte for byte.
python3 - <<'PY'
import struct
frames, channels = 22050, 3
data = bytearray()
for n in range(frames):
    for c in range(channels):
        v = ((n * 7919 + c * 104729 + 1) % 0xFFFFFF) - 0x800000
        data += struct.pack("<i", v)[:3]
fmt = struct.pack("<HHIIHHHHI", 0xFFFE, channels, 44100, 44100 * 9, 9, 24, 22, 24, 0x107)
fmt += bytes([1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
open("in.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
PY
"$play" --to-file out.wav in.wav 2>/dev/null || fail "rendering in.wav failed"
python3 - <<'PY' || fail "out.wav differs from in.wav"
import sys
def chunks(path):
    b = open(path, "rb").read()
    found, i = {}, 12
    while i + 8 <= len(b):
        size = int.from_bytes(b[i + 4:i + 8], "little")
        found[b[i:i + 4]] = b[i + 8:i + 8 + size]
        i += 8 + size + (size & 1)
    return found
a, b = chunks("in.wav"), chunks("out.wav")
sys.exit(0 if a[b"fmt "] == b[b"fmt "] and a[b"data"] == b[b"data"] else 1)
PY

# No sound device: the tone goes into mivo-play.wav instead, unless refused.
SDL_AUDIODRIVER=no-such-driver "$play" --tone 1000 --seconds 1 >out.txt 2>&1 ||
    fail "the fallback failed: $(cat out.txt)"
grep -q "no sound device; rendering into mivo-play.wav" out.txt || fail "no fallback message"
tail -c +45 mivo-play.wav >tone.raw
python3 "$checker" tone.raw --hertz 1000 --amplitude 16383 --seconds 1 --max-gaps 0 ||
    fail "mivo-play.wav does not hold the tone"
SDL_AUDIODRIVER=no-such-driver expect_exit 3 "no sound device" --no-fallback --tone 440

[ "$failures" = 0 ]
