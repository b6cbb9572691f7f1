# Source this file: a Wine prefix and a wineserver of a bench's own, for the
# benches that run mivo.dll's client under Wine's DirectSound.
#
#   source scripts/wine-prefix.sh
#   wine_prefix_start WORK_DIR   # exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES;
#                                # sets WINESERVER_PID; returns 1 on failure (log printed)
#
# The server is started here, not by the first wine call, so that its pid is
# known: its CPU time counts for Wine (Wine's events and waits go through
# it), and it is the caller's to stop.

wine_prefix_start() {
    local work="$1"
    export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        rm -rf "$WINEPREFIX"
        timeout -k 5 180 wineboot -i >"$work/wineboot.log" 2>&1 ||
            { cat "$work/wineboot.log"; return 1; }
    fi
    timeout -k 5 20 wineserver -k >/dev/null 2>&1
    timeout -k 5 30 wineserver -w >/dev/null 2>&1
    wineserver -f -p >"$work/wineserver.log" 2>&1 &
    WINESERVER_PID=$!
    sleep 0.5
    kill -0 "$WINESERVER_PID" 2>/dev/null || { cat "$work/wineserver.log"; return 1; }
}

# Stops the wineserver wine_prefix_start started, if it did.
wine_prefix_stop() {
    [ -n "${WINESERVER_PID:-}" ] || return 0
    timeout -k 5 20 wineserver -k >/dev/null 2>&1
    kill "$WINESERVER_PID" 2>/dev/null
    wait "$WINESERVER_PID" 2>/dev/null
    WINESERVER_PID=""
}
