# Sourced by the test scripts: require_tools TOOL... returns when every tool
# is installed. Otherwise the test is skipped (exit 77), except in CI, which
# installs them all: there a missing tool is a broken setup and fails.
require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null && continue
        if [ "${CI:-}" = "true" ]; then
            echo "FAIL: $tool is not installed" >&2
            exit 1
        fi
        echo "$tool is not installed: skipped"
        exit 77
    done
}
