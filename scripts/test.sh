#!/usr/bin/env bash
# Builds mivo and runs every test: the debug build in full, the style checks
# (clang-format, clang-tidy), then the whole suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer
# (the Windows build under Wine runs once, in the debug pass), the valgrind
# tests on an optimised build (inlining changes the stacks valgrind sees and
# its suppressions match), then each fuzzer for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

extra=()
if [ "${CI:-}" = "true" ]; then
    # In CI the Windows test must run, never skip for want of a tool.
    extra+=(-DMIVO_REQUIRE_WINDOWS=ON)
fi

run_preset() {
    local preset="$1"
    shift
    echo "=== $preset"
    cmake --preset "$preset" "${extra[@]}" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" "$@"
}

run_preset debug
echo "=== style"
bash scripts/style.sh build/debug
run_preset asan -LE windows
run_preset tsan -LE windows
run_preset valgrind

echo "=== fuzz"
bash scripts/fuzz.sh
