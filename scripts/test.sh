#!/usr/bin/env bash
# Builds mivo and runs every test: the debug build in full, the style checks
# (clang-format, clang-tidy), then the whole suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer
# (the Windows build under Wine runs once, in the debug pass), the valgrind
# tests on an optimised build (inlining changes the stacks valgrind sees and
# its suppressions match), then each fuzzer for a minute.
# Each stage says how long it took, and a summary of the stages closes the
# run, a failed run too (scripts/test-summary.sh); each stage's output is
# also kept in build/test-logs/STAGE.log.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/test-summary.sh
source scripts/test-summary.sh

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

extra=()
if [ "${CI:-}" = "true" ]; then
    # In CI the Windows test must run, never skip for want of a tool.
    extra+=(-DMIVO_REQUIRE_WINDOWS=ON)
fi

run_preset() {
    local preset="$1"
    shift
    cmake --preset "$preset" "${extra[@]}" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" "$@"
}

# The stage running now, and when it started.
current=""
started=0

finish_stage() {  # EXIT_STATUS
    local took=$((SECONDS - started))
    echo "$current $took $1" >>"$logs/stages"
    echo "=== $current: $(test_duration "$took")"
    current=""
}

# Runs a stage with its output shown and kept. A failing stage ends the
# script through set -e, and the trap below records it.
stage() {  # NAME COMMAND...
    current="$1"
    shift
    echo "=== $current"
    started=$SECONDS
    "$@" 2>&1 | tee "$logs/$current.log"
    finish_stage 0
}

# Whatever ends the script, the summary of the stages so far closes it, and
# the exit status stays that of the command that failed.
close_run() {
    local status=$?
    if [ -n "$current" ]; then finish_stage "$status"; fi
    test_summary "$logs" || true
    exit "$status"
}
trap close_run EXIT

stage setup bash scripts/setup.sh
stage debug run_preset debug
stage style bash scripts/style.sh build/debug
stage asan run_preset asan -LE windows
stage tsan run_preset tsan -LE windows
stage valgrind run_preset valgrind
stage fuzz bash scripts/fuzz.sh
