#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a
# bounded time from its seed corpus; any crash, leak, model disagreement or
# broken device invariant fails.
#   mivo_operations_fuzzer  CdsObject over the scriptable fake platform
#   mivo_device_fuzzer      the software device's objects on its test backend
#   mivo_audio_file_fuzzer  mivo-play's reading of sound files through libsndfile
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${MIVO_FUZZ_SECONDS:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for target in operations device audio_file; do
    mkdir -p "$work/$target"
    cp "tests/fuzz/${target}_corpus/"* "$work/$target/"
    status=0
    "build/fuzz/bin/mivo_${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/ "$work/$target" >"$work/$target.log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 200 "$work/$target.log"
        echo "mivo_${target}_fuzzer failed (exit $status); the crashing input is in build/fuzz/"
        exit "$status"
    fi
    echo "mivo_${target}_fuzzer:"
    grep -E "^(Done|stat::number_of_executed_units|stat::new_units_added)" "$work/$target.log"
done
