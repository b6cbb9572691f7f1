#!/usr/bin/env bash
# The code's style, as CI checks it: clang-format over every tracked C++
# file, and clang-tidy (.clang-tidy, headers included) over every C++ source
# the debug build compiles. Any finding fails.
#   scripts/style.sh [BUILD_DIR]   (default build/debug, configured already)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/debug}"

echo "--- clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "--- clang-tidy"
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json" >&2; exit 1; }
# The sources of this tree that the build compiles: the Windows-only and
# fuzzer sources are built elsewhere, with other flags.
sources=$(python3 - "$build/compile_commands.json" "$PWD" <<'PY'
import json, os, sys
root = sys.argv[2] + os.sep
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root) and not path.startswith(root + "build" + os.sep):
        seen.add(path)
print("\n".join(sorted(seen)))
PY
)
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
echo "$sources" | xargs -P "$(nproc)" -n 6 clang-tidy -p "$build" --quiet >"$log" 2>/dev/null || true
if grep -q "warning:\|error:" "$log"; then
    grep -A3 "warning:\|error:" "$log"
    echo "clang-tidy: $(grep -c 'warning:\|error:' "$log") findings" >&2
    exit 1
fi
echo "clean: $(echo "$sources" | wc -l) sources"
