#!/usr/bin/env bash
# The one-screen summary that closes scripts/test.sh: each stage run so far
# with its time and what its log says it did. test.sh sources this file;
# run alone, it summarises the logs of an earlier run.
#   scripts/test-summary.sh [LOG_DIR]   (default build/test-logs)
# LOG_DIR holds STAGE.log for each stage and `stages`, one "NAME SECONDS
# EXIT_STATUS" line per stage finished.

# SECONDS as 3m07s.
test_duration() {
    printf '%dm%02ds' $(($1 / 60)) $(($1 % 60))
}

# What a stage's log says it did: ctest's counts (its closing line counts a
# skipped test as passed; the skipped ones are listed after it), the style
# check's result, each fuzzer's runs. Empty when the log says none of these.
test_stage_outcome() {  # LOG
    awk '
        /^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$/ {
            failed = $4; total = $NF; skipped = 0; ctest = 1
        }
        ctest && /^[ \t]+[0-9]+ - .* \(Skipped\)$/ { skipped++ }
        /^clean: [0-9]+ sources$/ || /^clang-tidy: [0-9]+ findings$/ { style = $0 }
        /: error: code should be clang-formatted/ { unformatted++ }
        /^mivo_[a-z_]+_fuzzer:$/ { fuzzer = substr($0, 1, length($0) - 1) }
        /^Done [0-9]+ runs / && fuzzer != "" {
            fuzz = fuzz sep fuzzer " " $2 " runs"; sep = ", "; fuzzer = ""
        }
        /^mivo_[a-z_]+_fuzzer failed / { fuzz = fuzz sep $1 " failed"; sep = ", " }
        END {
            if (ctest) {
                printf "%d tests: %d passed, %d skipped, %d failed", total,
                       total - failed - skipped, skipped, failed
            }
            if (unformatted) printf "clang-format: %d findings", unformatted
            else if (style != "") printf "%s", style
            if (fuzz != "") printf "%s", fuzz
        }' "$1"
}

test_summary() {  # LOG_DIR
    local logs="$1" name seconds status outcome total=0
    [ -f "$logs/stages" ] || return 0
    echo "=== summary"
    while read -r name seconds status; do
        outcome=$(test_stage_outcome "$logs/$name.log" 2>/dev/null || true)
        if [ "$status" != 0 ]; then
            outcome="FAILED (exit $status)${outcome:+: $outcome}"
        fi
        printf '%-10s %7s  %s\n' "$name" "$(test_duration "$seconds")" "${outcome:-ok}"
        total=$((total + seconds))
    done <"$logs/stages"
    printf '%-10s %7s\n' total "$(test_duration "$total")"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    test_summary "${1:-build/test-logs}"
fi
