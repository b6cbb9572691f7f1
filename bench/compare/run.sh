#!/usr/bin/env bash
# One streaming workload three ways, on one private PulseAudio null sink, and
# one table comparing them:
#   mivo  the Linux client of CdsObject over mivo's software device
#         (libmivo-dsound.so, on libpulse)
#   wine  the same client built for Windows against mivo.dll, run under
#         Wine, whose DirectSound plays it
#   sdl2  a bare SDL2 program doing the same with its audio callback (the
#         floor)
# Workload: 48 kHz stereo 16-bit, a looping buffer of 4 blocks of 2.5, 5, 10
# and 20 ms, each block refilled with a continuous tone when its event fires.
# The sink's monitor is captured during every run and searched for silences
# and breaks of the tone, and the server's latency of the contender's stream
# is sampled. See README.md beside this script for what each figure means.
#
#   bench/compare/run.sh [--quick] [--seconds N] [--blocks "2.5 5 10 20"]
#                        [--work-dir DIR] [--windows-build DIR] [--mivo-env "VAR=VALUE ..."]
#                        [--contenders "mivo wine sdl2"] [--stall MS]
#                        [--stall-for S]
#
# --quick          8 s per run instead of 30, 3 s of them past the settling
#                  time (also MIVO_COMPARE_SECONDS=N)
# --seconds N      seconds of tone per run
# --blocks LIST    block lengths in ms, whole frames at 48 kHz (default
#                  "2.5 5 10 20")
# --work-dir DIR   builds, Wine prefix, captures and logs (default build/compare)
# --windows-build  the mingw-w64 build of mivo.dll and the Windows client
#                  (default build/windows, configured with the windows preset
#                  when absent)
# --mivo-env       environment for the mivo runs alone, to try the software
#                  device's settings (MIVO_DSOUND_PERIOD_FRAMES=512, say)
#                  against unchanged Wine and SDL2 runs
# --contenders     which of mivo, wine and sdl2 to run (default: all three)
# --stall MS       freeze each contender's processes (SIGSTOP) for MS ms every
#                  3 s of its run, as a descheduled process is: how each one
#                  comes through a stall longer than its buffer (one length
#                  per invocation: the results are named by contender and
#                  block alone)
# --stall-for S    stall only in the first S seconds of each run, so that the
#                  rest shows how a contender settles once the machine is
#                  quiet again (mivo's target stepping back, say); default:
#                  the whole run
#
# Missing mingw-w64 or Wine leaves the wine column empty; a missing sound
# server fails. Every step has a timeout; the sound server, the capture and
# the Wine server are stopped on every way out.
set -uo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
seconds="${MIVO_COMPARE_SECONDS:-30}"
blocks="2.5 5 10 20"
work_dir="$source_dir/build/compare"
windows_build="$source_dir/build/windows"
mivo_env=""
contenders=""
stall_ms=0
stall_for=0
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) seconds=8; shift ;;
        --seconds) seconds="$2"; shift 2 ;;
        --blocks) blocks="$2"; shift 2 ;;
        --work-dir) work_dir="$2"; shift 2 ;;
        --windows-build) windows_build="$2"; shift 2 ;;
        --mivo-env) mivo_env="$2"; shift 2 ;;
        --contenders) contenders="$2"; shift 2 ;;
        --stall) stall_ms="$2"; shift 2 ;;
        --stall-for) stall_for="$2"; shift 2 ;;
        -h | --help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
case "$seconds" in '' | *[!0-9]*) echo "--seconds takes whole seconds" >&2; exit 2 ;; esac
[ "$seconds" -ge 1 ] || { echo "--seconds must be at least 1" >&2; exit 2; }
case "$stall_ms" in '' | *[!0-9]*) echo "--stall takes one length in whole milliseconds" >&2; exit 2 ;; esac
case "$stall_for" in '' | *[!0-9]*) echo "--stall-for takes whole seconds" >&2; exit 2 ;; esac
for ms in $blocks; do
    awk -v ms="$ms" 'BEGIN { f = ms * 48; exit !(ms ~ /^[0-9]+(\.[0-9]+)?$/ && f >= 1 && f == int(f) && ms <= 1000) }' ||
        { echo "--blocks: $ms ms is not a whole number of frames at 48 kHz" >&2; exit 2; }
done
for who in $contenders; do
    case "$who" in mivo | wine | sdl2) ;; *) echo "unknown contender: $who" >&2; exit 2 ;; esac
done
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"

step() { echo; echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

host_build="$work_dir/host"
wine_run="$work_dir/wine-run"
results="$work_dir/results"
triple=x86_64-w64-mingw32

step "tools"
for tool in cmake ninja pulseaudio pactl parec timeout; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/setup.sh installs it)"
done
with_wine=1
for tool in "$triple-g++-posix" wine wineboot wineserver; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "no $tool: the Wine runs are left out"
        with_wine=0
    fi
done
echo "runs of $seconds s, blocks of $blocks ms${mivo_env:+; mivo runs with $mivo_env}"
[ "$stall_ms" -gt 0 ] && echo "each contender frozen for $stall_ms ms every 3 s$([ "$stall_for" -gt 0 ] && echo " of its first $stall_for s")"

step "build the Linux programs ($host_build)"
cd "$source_dir" || exit 1
if [ ! -f "$host_build/build.ninja" ]; then
    timeout -k 5 300 cmake --preset release -B "$host_build" -DMIVO_BUILD_TESTS=OFF \
        >"$work_dir/host-configure.log" 2>&1 || { cat "$work_dir/host-configure.log"; fail "configure"; }
fi
timeout -k 5 900 cmake --build "$host_build" --target mivo-compare-client mivo-compare-report \
    mivo-compare-wake-probe \
    >"$work_dir/host-build.log" 2>&1 || { tail -50 "$work_dir/host-build.log"; fail "build"; }
bin="$host_build/bin"
timeout -k 5 60 "$bin/mivo-compare-report" --self-check || fail "the capture analysis misjudges known faults"
# The software device, and the bare SDL2 program, exist only where SDL2 does.
timeout -k 5 900 cmake --build "$host_build" --target mivo-dsound >>"$work_dir/host-build.log" 2>&1 ||
    fail "the software device (libmivo-dsound.so) did not build; see $work_dir/host-build.log"
timeout -k 5 900 cmake --build "$host_build" --target mivo-compare-sdl >>"$work_dir/host-build.log" 2>&1 ||
    fail "the bare SDL2 program did not build; see $work_dir/host-build.log"
echo "ok"

if [ "$with_wine" -eq 1 ]; then
    step "build mivo.dll and the Windows client ($windows_build)"
    # The host's compiler settings (sanitizers and the like) must not leak
    # into the cross build.
    (
        unset CC CXX CFLAGS CXXFLAGS LDFLAGS CPPFLAGS
        if [ ! -f "$windows_build/build.ninja" ]; then
            timeout -k 5 300 cmake --preset windows -B "$windows_build" -DMIVO_BUILD_EXAMPLES=OFF \
                >"$work_dir/windows-configure.log" 2>&1 || exit 1
        fi
        timeout -k 5 900 cmake --build "$windows_build" --target mivo-compare-client \
            >"$work_dir/windows-build.log" 2>&1 || exit 1
        mkdir -p "$wine_run"
        cp "$windows_build/bin/mivo-compare-client.exe" "$windows_build/bin/mivo.dll" "$wine_run/"
    ) || { tail -50 "$work_dir/windows-build.log" "$work_dir/windows-configure.log" 2>/dev/null; fail "Windows build"; }
    echo "ok"
fi

step "private sound server"
# shellcheck source=/dev/null
source "$source_dir/scripts/private-pulse.sh"
sink=mivocompare
wineserver_pid=""
cleanup() {
    if [ -n "$wineserver_pid" ]; then
        timeout -k 5 20 wineserver -k >/dev/null 2>&1
        kill "$wineserver_pid" 2>/dev/null
        wait "$wineserver_pid" 2>/dev/null
    fi
    private_pulse_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM
rm -rf "$work_dir/pulse"
private_pulse_start "$work_dir/pulse" "$sink" || fail "private PulseAudio server"
export SDL_AUDIODRIVER=pulseaudio
echo "pulseaudio pid $PRIVATE_PULSE_PID, sink $sink"

if [ "$with_wine" -eq 1 ]; then
    step "Wine prefix"
    export WINEPREFIX="$work_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        rm -rf "$WINEPREFIX"
        timeout -k 5 180 wineboot -i >"$work_dir/wineboot.log" 2>&1 ||
            { cat "$work_dir/wineboot.log"; fail "wineboot"; }
    fi
    # A server of our own, started here, so that its pid is known and its CPU
    # time counts for Wine: Wine's events and waits go through it.
    timeout -k 5 20 wineserver -k >/dev/null 2>&1
    timeout -k 5 30 wineserver -w >/dev/null 2>&1
    wineserver -f -p >"$work_dir/wineserver.log" 2>&1 &
    wineserver_pid=$!
    sleep 0.5
    kill -0 "$wineserver_pid" 2>/dev/null || { cat "$work_dir/wineserver.log"; fail "wineserver"; }
    echo "wineserver pid $wineserver_pid"
fi

# shellcheck source=bench/compare/watch_contender.sh
source "$source_dir/bench/compare/watch_contender.sh"

# Plays one run while capturing the sink: run_one CONTENDER BLOCK_MS
run_one() {
    local who="$1" ms="$2" stem="$results/$1-$2ms" status contender sampler freezer=""
    local bound=$((seconds * 2 + 60))
    rm -f "$stem.log" "$stem.raw" "$stem.out" "$stem.wake" "$stem.latency"
    private_pulse_capture "$stem.raw" || fail "the capture did not start"
    # How late a plain thread wakes meanwhile: the machine's share of any gap.
    "$bin/mivo-compare-wake-probe" "$seconds" "$stem.wake" &
    local probe=$!
    case "$who" in
        mivo)
            # shellcheck disable=SC2086
            # The device picks its own backend (libpulse here); SDL's driver
            # setting would force SDL on it.
            env -u SDL_AUDIODRIVER $mivo_env MIVO_COMPARE_SERVER_PIDS="$PRIVATE_PULSE_PID" \
                timeout -k 5 "$bound" "$bin/mivo-compare-client" "$ms" "$seconds" "$stem.log" \
                >"$stem.out" 2>&1 &
            ;;
        sdl2)
            MIVO_COMPARE_SERVER_PIDS="$PRIVATE_PULSE_PID" \
                timeout -k 5 "$bound" "$bin/mivo-compare-sdl" "$ms" "$seconds" "$stem.log" \
                >"$stem.out" 2>&1 &
            ;;
        wine)
            (cd "$wine_run" && rm -f run.log &&
                MIVO_COMPARE_SERVER_PIDS="$PRIVATE_PULSE_PID $wineserver_pid" \
                    timeout -k 5 "$bound" wine mivo-compare-client.exe "$ms" "$seconds" run.log) \
                >"$stem.out" 2>&1 &
            ;;
    esac
    contender=$!
    sample_sink_latency "$contender" "$stem.latency" &
    sampler=$!
    if [ "$stall_ms" -gt 0 ]; then
        freeze_now_and_then "$contender" "$stall_ms" "$stall_for" &
        freezer=$!
    fi
    wait "$contender"
    status=$?
    [ "$who" = wine ] && [ -f "$wine_run/run.log" ] && mv "$wine_run/run.log" "$stem.log"
    # Both end on their own once the contender has; the freezer may be in
    # its 3 s sleep.
    [ -n "$freezer" ] && { kill "$freezer" 2>/dev/null; wait "$freezer" 2>/dev/null; }
    wait "$sampler" "$probe" 2>/dev/null
    # Let the tail of the tone through the sink before the capture stops.
    sleep 0.7
    private_pulse_capture_stop
    printf '  %-5s %3s ms: exit %s\n' "$who" "$ms" "$status"
}

step "idle sound server"
rm -rf "$results"
mkdir -p "$results"
# What pulseaudio spends with the capture running, the latency sampled and
# nothing playing: the report takes it off every run's figure, so that CPU
# is what a contender costs. Over 5 s; the clock tick is 10 ms.
idle_raw="$results/idle.raw"
private_pulse_capture "$idle_raw" || fail "the capture did not start"
sleep 6 &
idle_sleep=$!
sample_sink_latency "$idle_sleep" /dev/null &
idle_sampler=$!
sleep 1
ticks() { awk '{ print $14 + $15 }' "/proc/$PRIVATE_PULSE_PID/stat"; }
tick_hz=$(getconf CLK_TCK 2>/dev/null || echo 100)
idle_before=$(ticks)
sleep 5
idle_after=$(ticks)
wait "$idle_sleep" "$idle_sampler"
private_pulse_capture_stop
rm -f "$idle_raw"
idle_server=$(awk -v t=$((idle_after - idle_before)) -v hz="$tick_hz" 'BEGIN { printf "%.2f", t * 1000 / hz / 5 }')
echo "pulseaudio, capturing, nothing playing: $idle_server ms/s"

step "runs"
if [ -z "$contenders" ]; then
    contenders="mivo sdl2"
    [ "$with_wine" -eq 1 ] && contenders="mivo wine sdl2"
fi
case " $contenders " in
    *" wine "*) [ "$with_wine" -eq 1 ] || fail "no Wine here for the wine runs" ;;
esac
# Block length by block length, the contenders in turn, so that a slow
# stretch of the machine does not fall on one contender alone.
for ms in $blocks; do
    for who in $contenders; do
        run_one "$who" "$ms"
    done
done

step "results ($seconds s per run; figures in $results)"
# shellcheck disable=SC2086
timeout -k 5 120 "$bin/mivo-compare-report" --idle-server "$idle_server" "$results" $blocks |
    tee "$work_dir/table.txt"
