#!/usr/bin/env bash
# One streaming workload three ways, on one private null sink (PulseAudio, or
# PipeWire through its pulse server), and one table comparing them:
#   mivo  the Linux client of CdsObject over mivo's software device
#         (libmivo-dsound.so, on libpulse; native streams on PipeWire)
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
#                        [--streams "1 8 32"] [--server pulseaudio|pipewire]
#                        [--no-shm] [--work-dir DIR] [--windows-build DIR]
#                        [--mivo-env "VAR=VALUE ..."] [--contenders "mivo wine sdl2"]
#                        [--stall MS] [--stall-for S]
#
# --quick          8 s per run instead of 30, 3 s of them past the settling
#                  time (also MIVO_COMPARE_SECONDS=N)
# --seconds N      seconds of tone per run
# --blocks LIST    block lengths in ms, whole frames at 48 kHz (default
#                  "2.5 5 10 20"; "10" with --streams)
# --streams LIST   numbers of streams played at once by one process: N
#                  CdsObjects served by one client thread, or N SDL2
#                  devices; stream 0 carries the tone, the others silence.
#                  Another table: CPU, events and stream 0's gaps per run
# --server KIND    pulseaudio (default) or pipewire (pipewire, wireplumber
#                  and pipewire-pulse; every contender plays through the
#                  pulse server, SDL2 included)
# --no-shm         PulseAudio without shared memory: every sample over the
#                  socket (by default clients and server share memory, as
#                  on desktops; PipeWire's pulse server never does)
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
# server fails. Every step has a timeout; the sound server, the capture, the
# onset probe and the Wine server are stopped on every way out.
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
streams=""
server=pulseaudio
shm=yes
blocks_given=0
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) seconds=8; shift ;;
        --seconds) seconds="$2"; shift 2 ;;
        --blocks) blocks="$2"; blocks_given=1; shift 2 ;;
        --streams) streams="$2"; shift 2 ;;
        --server) server="$2"; shift 2 ;;
        --no-shm) shm=no; shift ;;
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
for n in $streams; do
    case "$n" in '' | *[!0-9]*) echo "--streams takes whole numbers" >&2; exit 2 ;; esac
    if [ "$n" -lt 1 ] || [ "$n" -gt 256 ]; then echo "--streams: 1 to 256 streams" >&2; exit 2; fi
done
[ -n "$streams" ] && [ "$blocks_given" -eq 0 ] && blocks=10
case "$server" in pulseaudio | pipewire) ;; *) echo "--server: pulseaudio or pipewire" >&2; exit 2 ;; esac
mkdir -p "$work_dir"
work_dir="$(cd "$work_dir" && pwd)"

step() { echo; echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

host_build="$work_dir/host"
wine_run="$work_dir/wine-run"
results="$work_dir/results"
triple=x86_64-w64-mingw32

step "tools"
server_tools="pulseaudio"
[ "$server" = pipewire ] && server_tools="pipewire wireplumber pw-dump"
for tool in cmake ninja pactl parec timeout $server_tools; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/setup.sh installs it)"
done
with_wine=1
for tool in "$triple-g++-posix" wine wineboot wineserver; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "no $tool: the Wine runs are left out"
        with_wine=0
    fi
done
echo "runs of $seconds s, blocks of $blocks ms${streams:+, $streams streams at once}${mivo_env:+; mivo runs with $mivo_env}"
[ "$server" = pipewire ] && [ "$shm" = no ] &&
    echo "--no-shm changes nothing on PipeWire: its pulse server shares no memory with clients"
[ "$stall_ms" -gt 0 ] && echo "each contender frozen for $stall_ms ms every 3 s$([ "$stall_for" -gt 0 ] && echo " of its first $stall_for s")"

# shellcheck source=bench/compare/build_programs.sh
source "$source_dir/bench/compare/build_programs.sh"
step "build the Linux programs ($host_build)"
build_linux_programs
bin="$host_build/bin"
echo "ok"
if [ "$with_wine" -eq 1 ]; then
    step "build mivo.dll and the Windows client ($windows_build)"
    build_windows_client
    echo "ok"
fi

step "private sound server"
# shellcheck source=bench/compare/sound_server.sh
source "$source_dir/bench/compare/sound_server.sh"
sink=mivocompare
wineserver_pid=""
# shellcheck source=scripts/wine-prefix.sh
source "$source_dir/scripts/wine-prefix.sh"
# shellcheck source=bench/compare/watch_contender.sh
source "$source_dir/bench/compare/watch_contender.sh"
cleanup() {
    stop_onset_probe
    wine_prefix_stop
    server_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM
rm -rf "$work_dir/pulse"
server_start "$server" "$work_dir/pulse" "$sink" "$shm" || fail "private $server server"
# Every contender through the pulse protocol, on either server.
export SDL_AUDIODRIVER=pulseaudio
setting="$server, shared memory $([ "$server" = pulseaudio ] && [ "$shm" = yes ] && echo on || echo off)"
echo "$setting; pids $SERVER_PIDS, sink $sink"

if [ "$with_wine" -eq 1 ]; then
    step "Wine prefix"
    wine_prefix_start "$work_dir" || fail "Wine prefix"
    wineserver_pid=$WINESERVER_PID
    echo "wineserver pid $wineserver_pid"
fi

# Plays one run while capturing the sink: run_one CONTENDER BLOCK_MS [STREAMS]
# (without STREAMS, the one stream of the first table)
run_one() {
    local who="$1" ms="$2" n="${3:-}" stem="$results/$1-$2ms${3:+-$3streams}"
    local status contender sampler freezer=""
    local bound=$((seconds * 2 + 60))
    rm -f "$stem.log" "$stem.raw" "$stem.out" "$stem.wake" "$stem.latency" "$stem.onset"
    server_capture "$stem.raw" || fail "the capture did not start"
    # The first sound at the sink's monitor, against the client's Play.
    listen_for_onset "$bin/mivo-compare-onset" "$sink.monitor" "$bound" "$stem.onset" ||
        fail "the onset probe did not start"
    # How late a plain thread wakes meanwhile: the machine's share of any gap.
    "$bin/mivo-compare-wake-probe" "$seconds" "$stem.wake" &
    local probe=$!
    case "$who" in
        mivo)
            # shellcheck disable=SC2086
            # The device picks its own backend (libpulse here); SDL's driver
            # setting would force SDL on it.
            env -u SDL_AUDIODRIVER $mivo_env MIVO_COMPARE_SERVER_PIDS="$SERVER_PIDS" \
                timeout -k 5 "$bound" "$bin/mivo-compare-client" "$ms" "$seconds" "$stem.log" $n \
                >"$stem.out" 2>&1 &
            ;;
        sdl2)
            # shellcheck disable=SC2086
            MIVO_COMPARE_SERVER_PIDS="$SERVER_PIDS" \
                timeout -k 5 "$bound" "$bin/mivo-compare-sdl" "$ms" "$seconds" "$stem.log" $n \
                >"$stem.out" 2>&1 &
            ;;
        wine)
            # shellcheck disable=SC2086
            (cd "$wine_run" && rm -f run.log &&
                MIVO_COMPARE_SERVER_PIDS="$SERVER_PIDS $wineserver_pid" \
                    timeout -k 5 "$bound" wine mivo-compare-client.exe "$ms" "$seconds" run.log $n) \
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
    # Done half a second after the first sound; still listening only when the
    # contender never sounded.
    stop_onset_probe
    # Let the tail of the tone through the sink before the capture stops.
    sleep 0.7
    server_capture_stop
    printf '  %-5s %3s ms%s: exit %s\n' "$who" "$ms" "${n:+ x$n}" "$status"
}

step "idle sound server"
rm -rf "$results"
mkdir -p "$results"
# What the server spends with the capture running, the latency sampled and
# nothing playing: the report takes it off every run's figure, so that CPU
# is what a contender costs. Over 5 s; the clock tick is 10 ms.
idle_raw="$results/idle.raw"
server_capture "$idle_raw" || fail "the capture did not start"
# The graph's own quantum, before the idle figure is taken: pw-dump is dear.
idle_graph=$(server_graph_latency)
sleep 6 &
idle_sleep=$!
sample_sink_latency "$idle_sleep" /dev/null &
idle_sampler=$!
sleep 1
tick_hz=$(getconf CLK_TCK 2>/dev/null || echo 100)
idle_before=$(server_ticks) || fail "cannot read the server's CPU time"
sleep 5
idle_after=$(server_ticks) || fail "cannot read the server's CPU time"
wait "$idle_sleep" "$idle_sampler"
server_capture_stop
rm -f "$idle_raw"
idle_server=$(awk -v t=$((idle_after - idle_before)) -v hz="$tick_hz" 'BEGIN { printf "%.2f", t * 1000 / hz / 5 }')
echo "$server, capturing, nothing playing: $idle_server ms/s${idle_graph:+; smallest node.latency $idle_graph}"

step "runs"
if [ -z "$contenders" ]; then
    contenders="mivo sdl2"
    [ "$with_wine" -eq 1 ] && contenders="mivo wine sdl2"
fi
case " $contenders " in
    *" wine "*) [ "$with_wine" -eq 1 ] || fail "no Wine here for the wine runs" ;;
esac
# Block length by block length (and number of streams), the contenders in
# turn, so that a slow stretch of the machine does not fall on one
# contender alone.
for ms in $blocks; do
    for n in ${streams:-single}; do
        for who in $contenders; do
            if [ -n "$streams" ]; then run_one "$who" "$ms" "$n"; else run_one "$who" "$ms"; fi
        done
    done
done

step "results ($seconds s per run; $setting; figures in $results)"
report=("$bin/mivo-compare-report" --idle-server "$idle_server")
[ -n "$streams" ] && report+=(--streams "$streams")
[ -n "$idle_graph" ] && report+=(--idle-graph "$idle_graph")
# shellcheck disable=SC2086
{ echo "$setting"; timeout -k 5 120 "${report[@]}" "$results" $blocks; } |
    tee "$work_dir/table.txt"
