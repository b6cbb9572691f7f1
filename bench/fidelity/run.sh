#!/usr/bin/env bash
# What test signals come out as, three ways, on one private PulseAudio
# server with a float32 null sink, captured from its monitor as float32:
#   mivo  a Linux client of CdsObject over mivo's software device
#         (libmivo-dsound.so)
#   wine  the same client built for Windows against mivo.dll, run under
#         Wine, whose DirectSound plays it
#   sdl2  a bare SDL2 program opened at the source's own format, which
#         leaves every conversion to SDL and the server
# The runs are listed in cases.txt beside this script: noise for
# bit-exactness, tones at other rates and word lengths for THD+N and level,
# buffer volumes for the level change. Each run's figures come with the
# sample format the server got for the stream. See README.md.
#
#   bench/fidelity/run.sh [--seconds N] [--contenders "mivo wine sdl2"]
#                         [--cases "pass r44a ..."] [--tries N]
#                         [--work-dir DIR] [--windows-build DIR]
#
# --seconds N      seconds of signal per run (default 8; the analysis takes
#                  about 5.5 s from the middle of a tone)
# --contenders     which of mivo, wine and sdl2 to run (default: all three)
# --cases          which runs of cases.txt, by id (default: all)
# --tries N        a run with a gap or a failure is played again, up to N
#                  times in all (default 3), and the table takes the try
#                  with the fewest gaps: a busy machine's dropout says
#                  nothing of a resampler; the table notes every retry
# --work-dir DIR   builds, Wine prefix, captures (default build/fidelity)
# --windows-build  the mingw-w64 build of mivo.dll and the Windows client
#                  (default build/windows, shared with bench/compare)
#
# Without mingw-w64 or Wine the wine column is left out with a message (in
# CI, where CI=true, that fails instead).
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
seconds=8
contenders="mivo wine sdl2"
only_cases=""
tries=3
work_dir="$source_dir/build/fidelity"
windows_build="$source_dir/build/windows"
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --contenders) contenders="$2"; shift 2 ;;
        --cases) only_cases="$2"; shift 2 ;;
        --tries) tries="$2"; shift 2 ;;
        --work-dir) work_dir="$2"; shift 2 ;;
        --windows-build) windows_build="$2"; shift 2 ;;
        -h | --help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
case "$seconds" in '' | *[!0-9]*) echo "--seconds takes whole seconds" >&2; exit 2 ;; esac
case "$tries" in '' | 0 | *[!0-9]*) echo "--tries takes a count from 1" >&2; exit 2 ;; esac
for who in $contenders; do
    case "$who" in mivo | wine | sdl2) ;; *) echo "unknown contender: $who" >&2; exit 2 ;; esac
done
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"
host_build="$work_dir/host"
wine_run="$work_dir/wine-run"
results="$work_dir/results"
triple=x86_64-w64-mingw32

step() { echo; echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

step "tools"
for tool in cmake ninja pulseaudio pactl parec timeout awk; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/setup.sh installs it)"
done
case " $contenders " in
    *" wine "*)
        for tool in "$triple-g++-posix" wine wineboot wineserver; do
            command -v "$tool" >/dev/null 2>&1 && continue
            [ "${CI:-}" = "true" ] && fail "no $tool for the wine runs"
            echo "no $tool: the wine column is left out"
            contenders="$(echo " $contenders " | sed 's/ wine / /; s/^ *//; s/ *$//')"
            break
        done
        ;;
esac
echo "contenders: $contenders; $seconds s per run"

step "build the Linux programs ($host_build)"
cd "$source_dir" || exit 1
if [ ! -f "$host_build/build.ninja" ]; then
    timeout -k 5 300 cmake --preset release -B "$host_build" -DMIVO_BUILD_TESTS=OFF \
        >"$work_dir/host-configure.log" 2>&1 || { cat "$work_dir/host-configure.log"; fail "configure"; }
fi
timeout -k 5 1200 nice -n 10 cmake --build "$host_build" --target mivo-dsound mivo-fidelity-client \
    mivo-fidelity-sdl mivo-fidelity-measure >"$work_dir/host-build.log" 2>&1 ||
    { tail -50 "$work_dir/host-build.log"; fail "build"; }
bin="$host_build/bin"
echo "ok"

case " $contenders " in
    *" wine "*)
        step "build mivo.dll and the Windows client ($windows_build)"
        (
            # The host's compiler settings must not leak into the cross build.
            unset CC CXX CFLAGS CXXFLAGS LDFLAGS CPPFLAGS
            if [ ! -f "$windows_build/build.ninja" ]; then
                timeout -k 5 300 cmake --preset windows -B "$windows_build" -DMIVO_BUILD_EXAMPLES=OFF \
                    >"$work_dir/windows-configure.log" 2>&1 || exit 1
            fi
            timeout -k 5 1200 nice -n 10 cmake --build "$windows_build" --target mivo-fidelity-client \
                >"$work_dir/windows-build.log" 2>&1 || exit 1
            mkdir -p "$wine_run"
            cp "$windows_build/bin/mivo-fidelity-client.exe" "$windows_build/bin/mivo.dll" "$wine_run/"
        ) || { tail -50 "$work_dir/windows-build.log" "$work_dir/windows-configure.log" 2>/dev/null
               fail "Windows build"; }
        echo "ok"
        ;;
esac

step "private sound server, float32 sink"
# shellcheck source=/dev/null
source "$source_dir/scripts/private-pulse.sh"
export PRIVATE_PULSE_SINK_ARGS="format=float32le" PRIVATE_PULSE_CAPTURE_FORMAT=float32le
# shellcheck source=scripts/wine-prefix.sh
source "$source_dir/scripts/wine-prefix.sh"
cleanup() {
    wine_prefix_stop
    private_pulse_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM
rm -rf "$work_dir/pulse"
private_pulse_start "$work_dir/pulse" mivofidelity || fail "private PulseAudio server"
export SDL_AUDIODRIVER=pulseaudio
# The sample format of each sink, of each stream: the line pactl begins
# with "Sample S".
sample_formats() { pactl list "$1" 2>/dev/null | awk -F': ' '/^[[:space:]]*Sample S/ { print $2 }'; }
echo "sink: $(sample_formats sinks)"

case " $contenders " in
    *" wine "*)
        step "Wine prefix"
        wine_prefix_start "$work_dir" || fail "Wine prefix"
        ;;
esac

# The stream's sample format as the server reports it, every 0.3 s while
# PID runs: sample_stream PID FILE
sample_stream() {
    while kill -0 "$1" 2>/dev/null; do
        sample_formats sink-inputs >>"$2"
        sleep 0.3
    done
}

# Plays one run while capturing the sink, and leaves its line of figures in
# $run_line: play_once CONTENDER ID PRIMARY BUFFER SIGNAL VOLUME TRY
play_once() {
    local who="$1" id="$2" primary="$3" buffer="$4" signal="$5" volume="$6" try="$7"
    local stem="$results/$who-$id" status figures formats bound=$((seconds * 3 + 60))
    rm -f "$stem.raw" "$stem.format" "$stem.out"
    private_pulse_capture "$stem.raw" || fail "the capture did not start"
    case "$who" in
        mivo)
            # The device picks its own backend (libpulse here).
            env -u SDL_AUDIODRIVER timeout -k 5 "$bound" "$bin/mivo-fidelity-client" \
                "$primary" "$buffer" "$signal" "$seconds" "$volume" >"$stem.out" 2>&1 &
            ;;
        wine)
            (cd "$wine_run" && timeout -k 5 "$bound" wine mivo-fidelity-client.exe \
                "$primary" "$buffer" "$signal" "$seconds" "$volume") >"$stem.out" 2>&1 &
            ;;
        sdl2)
            timeout -k 5 "$bound" "$bin/mivo-fidelity-sdl" "$buffer" "$signal" "$seconds" \
                >"$stem.out" 2>&1 &
            ;;
    esac
    local player=$!
    sample_stream "$player" "$stem.format" &
    local sampler=$!
    wait "$player"
    status=$?
    wait "$sampler"
    # Let the tail through the sink before the capture stops.
    sleep 0.7
    private_pulse_capture_stop
    figures="$(timeout -k 5 120 "$bin/mivo-fidelity-measure" "$stem.raw" "$buffer" "$signal" "$seconds")"
    # Every format the stream had, most seen first.
    formats="$(sort "$stem.format" 2>/dev/null | uniq -c | sort -rn | sed 's/^ *[0-9]* //' | paste -sd '+')"
    run_line="$who $id exit=$status tries=$try $figures stream=${formats:--}"
}

step "runs"
rm -rf "$results"
mkdir -p "$results"
runs="$results/runs.txt"
: >"$runs"
# Case by case, the contenders in turn, so that a slow stretch of the
# machine does not fall on one contender alone.
while IFS='|' read -r id what primary buffer signal volume; do
    id="$(echo "$id" | tr -d ' ')"
    case "$id" in '' | '#'*) continue ;; esac
    [ -n "$only_cases" ] && case " $only_cases " in *" $id "*) ;; *) continue ;; esac
    read -r primary buffer signal volume <<<"$primary $buffer $signal $volume"
    echo "-- $id: $(echo "$what" | sed 's/^ *//; s/ *$//')"
    for who in $contenders; do
        if [ "$who" = sdl2 ] && [ "$volume" != 0 ]; then
            echo "sdl2 $id skipped=no-buffer-volume" | tee -a "$runs"
            continue
        fi
        # The try kept is the first with the fewest gaps among those that
        # ran to their end.
        best="" best_gaps=""
        for try in $(seq 1 "$tries"); do
            play_once "$who" "$id" "$primary" "$buffer" "$signal" "$volume" "$try"
            echo "$run_line"
            gaps="$(echo "$run_line" | sed -n 's/.* gaps=\([0-9]*\) .*/\1/p')"
            case "$run_line" in *" exit=0 "*) ;; *) gaps="" ;; esac
            if [ -z "$best" ] || { [ -n "$gaps" ] && { [ -z "$best_gaps" ] || [ "$gaps" -lt "$best_gaps" ]; }; }; then
                best="$run_line" best_gaps="$gaps"
            fi
            [ "$best_gaps" = 0 ] && break
        done
        echo "$best" >>"$runs"
    done
done <"$here/cases.txt"

step "the runs kept"
cat "$runs"

step "results (figures in $results)"
awk -f "$here/table.awk" -v contenders="$contenders" "$here/cases.txt" "$runs" | tee "$work_dir/table.md"
