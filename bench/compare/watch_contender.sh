# shellcheck shell=bash
# Sourced by run.sh: what it does beside a contender while it plays. Each
# watcher follows the process tree of the contender it was given (the
# program, or Wine's loader and the Windows program under it), never
# processes found by name, so that nothing else on the machine is touched.
#
#   contender_tree PID                 PID and its descendants, one a line
#   freeze_now_and_then PID MS [S]     freezes that tree (SIGSTOP) for MS ms
#                                      every 3 s while PID lives, or only
#                                      over its first S s (S > 0)
#   sample_sink_latency PID FILE       appends, every ~0.5 s while PID lives,
#                                      "ms_since_start buffer_us sink_us
#                                      node_latency pid|only PID" for each
#                                      of the tree's streams
#   listen_for_onset PROGRAM SOURCE S FILE
#                                      starts the onset probe PROGRAM on the
#                                      sink's monitor SOURCE (for at most S
#                                      s) and returns once it listens; sets
#                                      ONSET_PID
#   stop_onset_probe                   ends it, if it still runs
#
# The server reports each stream's Buffer Latency and Sink Latency and the
# process that opened it (application.process.id). A stream is the
# contender's when that process is in its tree; failing that, the only
# stream on the private server is (Wine may report another pid than its
# loader's). PipeWire's pulse server adds the stream's node.latency
# ("256/48000"), and reports both latencies as 0; elsewhere node_latency
# reads "-".

contender_tree() {
    ps -e -o pid=,ppid= | awk -v root="$1" '
        { parent[$1] = $2 }
        END {
            inside[root] = 1
            print root
            do {
                grew = 0
                for (p in parent) {
                    if (!(p in inside) && (parent[p] in inside)) {
                        inside[p] = 1
                        print p
                        grew = 1
                    }
                }
            } while (grew)
        }'
}

freeze_now_and_then() {
    local root="$1" for_s="${3:-0}" pause tree
    pause=$(awk -v ms="$2" 'BEGIN { printf "%.3f", ms / 1000 }')
    local stop_at=$((SECONDS + for_s))
    while sleep 3 && kill -0 "$root" 2>/dev/null; do
        [ "$for_s" -gt 0 ] && [ "$SECONDS" -gt "$stop_at" ] && break
        tree=$(contender_tree "$root")
        # shellcheck disable=SC2086
        kill -STOP $tree 2>/dev/null
        sleep "$pause"
        # shellcheck disable=SC2086
        kill -CONT $tree 2>/dev/null
    done
}

sample_sink_latency() {
    local root="$1" out="$2" started tree
    started=$(date +%s%N)
    while kill -0 "$root" 2>/dev/null; do
        tree=" $(contender_tree "$root" | tr '\n' ' ') "
        LC_ALL=C timeout -k 1 5 pactl list sink-inputs 2>/dev/null |
            awk -v pids="$tree" -v at=$((($(date +%s%N) - started) / 1000000)) '
                function keep() {
                    if (open && buffer != "" && sink != "") {
                        n++; b[n] = buffer; s[n] = sink; p[n] = pid
                        l[n] = node == "" ? "-" : node
                    }
                    open = 0
                }
                /^Sink Input #/ { keep(); open = 1; buffer = ""; sink = ""; pid = ""; node = "" }
                /^[ \t]*Buffer Latency:/ { buffer = $3 }
                /^[ \t]*Sink Latency:/ { sink = $3 }
                /^[ \t]*application\.process\.id = / { pid = $3; gsub(/"/, "", pid) }
                /^[ \t]*node\.latency = / { node = $3; gsub(/"/, "", node) }
                END {
                    keep()
                    found = 0
                    for (i = 1; i <= n; i++) {
                        if (p[i] != "" && index(pids, " " p[i] " ") > 0) {
                            print at, b[i], s[i], l[i], "pid", p[i]
                            found = 1
                        }
                    }
                    if (!found && n == 1) print at, b[1], s[1], l[1], "only", p[1]
                }' >>"$out"
        sleep 0.5
    done
}

# The probe says it listens (its first line) before the contender starts,
# so that the run's first sound cannot come before it.
ONSET_PID=""
listen_for_onset() {
    local program="$1" source="$2" seconds="$3" file="$4" tries=0
    rm -f "$file"
    "$program" "$source" "$seconds" "$file" &
    ONSET_PID=$!
    until [ -s "$file" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 200 ] || ! kill -0 "$ONSET_PID" 2>/dev/null; then
            stop_onset_probe
            return 1
        fi
        sleep 0.05
    done
}

stop_onset_probe() {
    [ -n "$ONSET_PID" ] || return 0
    kill "$ONSET_PID" 2>/dev/null
    wait "$ONSET_PID" 2>/dev/null
    ONSET_PID=""
}
