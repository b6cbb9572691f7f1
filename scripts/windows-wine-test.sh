#!/usr/bin/env bash
# Builds mivo.dll with mingw-w64, checks what it imports, exports and says
# its version is, installs it, builds the Wine client against the installed
# tree and runs it under Wine into a private PulseAudio null sink, capturing
# the sink and measuring the tone.
#
#   scripts/windows-wine-test.sh [--work-dir DIR] [--checker PROGRAM] [--require]
#
# --work-dir  where the builds, the Wine prefix and the capture go
#             (default: build/windows-wine)
# --checker   the host program that measures the capture (mivo-tone-check);
#             built here with c++ when not given
# --require   a missing tool fails the run; without it the run is skipped
#             with status 77
#
# Every step is bounded by a timeout; the Wine server, the capture and the
# sound server are stopped on every way out.
set -uo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work_dir="$source_dir/build/windows-wine"
checker=""
require=0
while [ $# -gt 0 ]; do
    case "$1" in
        --work-dir) work_dir="$2"; shift 2 ;;
        --checker) checker="$2"; shift 2 ;;
        --require) require=1; shift ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"

# What the client plays (see tests/windows/client/wine_client.cpp).
rate=48000
channels=2
frequency=440
amplitude=16000
block_frames=4800
tone_frames=144000
volume_ratio=0.501 # -600 hundredths of a decibel

triple=x86_64-w64-mingw32
step() { echo; echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

step "tools"
missing=()
for tool in "$triple-g++-posix" "$triple-objdump" "$triple-windres" wine wineboot wineserver \
    pulseaudio pactl parec cmake ninja timeout strings c++filt; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "missing: ${missing[*]} (scripts/setup.sh installs them)"
    [ "$require" -eq 1 ] && fail "required tools are missing"
    echo "SKIPPED"
    exit 77
fi
echo "all present; $(wine --version 2>/dev/null)"

# The host's compiler settings (sanitizers and the like) must not leak into
# the cross build.
unset CC CXX CFLAGS CXXFLAGS LDFLAGS CPPFLAGS

build="$work_dir/build"
install="$work_dir/install"
client_build="$work_dir/client"
run="$work_dir/run"

step "build mivo.dll (windows preset)"
cd "$source_dir" || exit 1
timeout -k 5 300 cmake --preset windows -B "$build" -DMIVO_BUILD_EXAMPLES=OFF >"$work_dir/configure.log" 2>&1 ||
    { cat "$work_dir/configure.log"; fail "configure"; }
timeout -k 5 900 cmake --build "$build" || fail "build"
rm -rf "$install"
timeout -k 5 120 cmake --install "$build" --prefix "$install" >/dev/null || fail "install"
dll="$install/bin/mivo.dll"
[ -f "$dll" ] || fail "no bin/mivo.dll in the installed tree"
[ -f "$install/lib/libmivo.dll.a" ] || fail "no import library lib/libmivo.dll.a in the installed tree"
echo "installed: $(cd "$install" && find . -type f | sort | tr '\n' ' ')"

# Checks the import, export and version tables of one mivo.dll.
check_dll() {
    local dll="$1" objdump="$2" name="$3"
    local table="$work_dir/$name.objdump"
    step "imports of $name"
    timeout -k 5 60 "$objdump" -p "$dll" >"$table" || fail "objdump"
    local imports
    imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' "$table")
    echo "$imports" | sed 's/^/  /'
    [ -n "$imports" ] || fail "no import table read"
    if grep -qi '^dsound\.dll$' <<<"$imports"; then
        fail "$name imports dsound.dll; it must bind it at run time"
    fi
    # The mingw-w64 runtime DLLs (libstdc++-6, libgcc_s_seh-1,
    # libwinpthread-1) are all named lib*; system DLLs never are.
    if grep -qi -e '^lib' -e 'stdc++' -e 'gcc' -e 'pthread' <<<"$imports"; then
        fail "$name needs a C++ runtime DLL"
    fi
    echo "ok: no dsound.dll, only system DLLs"

    step "exports of $name"
    local exports demangled strays member
    exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$table" |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
    [ -n "$exports" ] || fail "no export table read"
    demangled=$(echo "$exports" | c++filt)
    echo "$demangled" | sed 's/^/  /'
    strays=$(echo "$demangled" | grep -v '^CdsObject::' || true)
    [ -z "$strays" ] || fail "exports beyond CdsObject's members: $strays"
    for member in 'CdsObject::CdsObject(HWND__\*, _GUID const\*)' 'CdsObject::~CdsObject()' \
        'CdsObject::operator=(CdsObject const&)' 'CdsObject::PlayStreamingBuffer()'; do
        # A here-string, not a pipe: grep -q stops reading at the first match,
        # and under pipefail the writer it leaves behind fails the check.
        grep -q "^$member\$" <<<"$demangled" || fail "$member is not exported"
    done
    echo "ok: $(echo "$exports" | wc -l) exports, all CdsObject members"

    step "version strings of $name"
    local strings_file="$work_dir/$name.strings" key value
    strings -el "$dll" >"$strings_file"
    value_of() { awk -v key="$1" 'found { print; exit } $0 == key { found = 1 }' "$strings_file"; }
    for key in FileVersion ProductVersion; do
        value=$(value_of "$key")
        echo "  $key: $value"
        [ "$value" = "2, 3, 0, 4" ] || fail "$key is '$value'"
    done
    value=$(value_of ProductName)
    echo "  ProductName: $value"
    [ "$value" = "mivo" ] || fail "ProductName is '$value'"
    echo "ok"
}

check_dll "$dll" "$triple-objdump" mivo.dll

# The 32-bit DLL is built and checked when its compiler is there; it cannot
# run on this machine's 64-bit Wine.
if command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1; then
    step "build the 32-bit mivo.dll"
    timeout -k 5 300 cmake -S "$source_dir" -B "$work_dir/build-i686" -G Ninja \
        --toolchain "$source_dir/cmake/mingw-w64-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DMIVO_BUILD_TESTS=OFF -DMIVO_BUILD_EXAMPLES=OFF -DMIVO_WARNINGS_AS_ERRORS=ON \
        >"$work_dir/configure-i686.log" 2>&1 || { cat "$work_dir/configure-i686.log"; fail "configure"; }
    timeout -k 5 900 cmake --build "$work_dir/build-i686" || fail "32-bit build"
    check_dll "$work_dir/build-i686/bin/mivo.dll" i686-w64-mingw32-objdump mivo-i686.dll
else
    step "32-bit mivo.dll not built: no i686-w64-mingw32-g++-posix"
fi

step "build the Wine client against the installed tree"
timeout -k 5 300 cmake -S "$source_dir/tests/windows/client" -B "$client_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$install" -DCMAKE_BUILD_TYPE=Release >"$work_dir/client-configure.log" 2>&1 ||
    { cat "$work_dir/client-configure.log"; fail "client configure"; }
timeout -k 5 300 cmake --build "$client_build" || fail "client build"
client_imports=$(timeout -k 5 60 "$triple-objdump" -p "$client_build/mivo-wine-client.exe" |
    sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
echo "client imports: $(echo "$client_imports" | tr '\n' ' ')"
grep -qx 'mivo.dll' <<<"$client_imports" || fail "the client does not import mivo.dll"
rm -rf "$run"
mkdir -p "$run"
cp "$dll" "$client_build/mivo-wine-client.exe" "$run/"

if [ -z "$checker" ]; then
    step "build the tone checker"
    checker="$work_dir/mivo-tone-check"
    timeout -k 5 300 c++ -std=c++17 -O2 -o "$checker" "$source_dir/tests/windows/tone_check.cpp" ||
        fail "tone checker build"
fi

step "Wine prefix and null sink"
# shellcheck source=private-pulse.sh
source "$source_dir/scripts/private-pulse.sh"
export WINEPREFIX="$work_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX" "$work_dir/pulse"
cleanup() {
    timeout -k 5 20 wineserver -k >/dev/null 2>&1
    private_pulse_stop
}
trap cleanup EXIT
# Make a kill from the test runner go through the clean-up as well.
trap 'exit 143' TERM INT
sink=mivowine
private_pulse_start "$work_dir/pulse" "$sink" || fail "private PulseAudio server"
timeout -k 5 180 wineboot -i >"$work_dir/wineboot.log" 2>&1 ||
    { cat "$work_dir/wineboot.log"; fail "wineboot"; }
echo "ok"

# Plays the tone under Wine into the sink and measures the capture. Returns 2
# when the client itself reported an unexpected result, 1 when only the
# captured audio fell short.
play_and_measure() {
    step "play under Wine and capture the sink"
    capture="$work_dir/capture.raw"
    rm -f "$capture"
    private_pulse_capture "$capture" || fail "the capture did not start"
    (cd "$run" && timeout -k 5 120 wine mivo-wine-client.exe) 2>"$work_dir/wine.log"
    local client_status=$?
    # Let the tail of the tone through the sink before stopping the capture.
    sleep 1
    private_pulse_capture_stop
    if [ "$client_status" -ne 0 ]; then
        grep -v 'wine32 is missing\|multiarch needs\|dpkg --add-architecture\|apt-get install wine32' \
            "$work_dir/wine.log" >&2
        echo "FAIL: the Wine client exited with status $client_status" >&2
        return 2
    fi

    step "measure the capture"
    "$checker" "$capture" $rate $channels $frequency $amplitude $block_frames $volume_ratio \
        $tone_frames || return 1
}

# Wine mixes on its own real-time schedule: on a loaded machine it can miss a
# period and the sink hears a repeated or silent stretch. Such a run gets up
# to two more tries; a client that reports a wrong result never does.
attempts="${MIVO_WINE_ATTEMPTS:-3}"
for attempt in $(seq "$attempts"); do
    status=0
    play_and_measure || status=$?
    [ "$status" -eq 0 ] && break
    [ "$status" -eq 2 ] && fail "the Wine client"
    [ "$attempt" -lt "$attempts" ] && echo "the captured tone fell short; playing once more"
done
[ "$status" -eq 0 ] || fail "the captured tone"

step "windows-wine test passed"
