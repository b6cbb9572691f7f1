#!/usr/bin/env bash
# Builds mivo and streams a two-second 440 Hz tone through CdsObject. On a
# machine without a sound device the demo renders to a WAV file instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release

args=("$@")
[ ${#args[@]} -gt 0 ] || args=(--tone 440 --seconds 2)
if [ -x build/release/bin/mivo-play ]; then
    exec build/release/bin/mivo-play "${args[@]}"
fi
exec build/release/bin/mivo-hello
