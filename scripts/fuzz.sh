#!/usr/bin/env bash
# Builds the libFuzzer target (clang, ASan+UBSan) and runs it for a bounded
# time from the seed corpus; any crash, leak or model disagreement fails.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${MIVO_FUZZ_SECONDS:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp tests/fuzz/corpus/* "$work/"
status=0
build/fuzz/bin/mivo_operations_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ "$work" >"$work/log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 200 "$work/log"
    echo "fuzzer failed (exit $status); the crashing input is in build/fuzz/"
    exit "$status"
fi
grep -E "^(Done|stat::number_of_executed_units|stat::new_units_added)" "$work/log"
