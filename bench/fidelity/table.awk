# The bench's table from its runs: awk -f table.awk -v contenders="mivo wine sdl2" CASES RUNS
# CASES is cases.txt; RUNS holds one line per run from run.sh:
#   CONTENDER CASE exit=N tries=N [figures as KEY=VALUE ...] stream=FORMAT
function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
function get(who, id, key) { return ((who SUBSEP id SUBSEP key) in v) ? v[who, id, key] : "" }
function stream(who, id) { s = get(who, id, "stream"); return s == "" ? "" : " (" s ")" }
function notes(who, id,    n) {
    n = ""
    if (get(who, id, "gaps") != "" && get(who, id, "gaps") != "0") n = n ", " get(who, id, "gaps") (get(who, id, "gaps") == "1" ? " gap" : " gaps")
    if (get(who, id, "tries") + 0 > 1) n = n ", try " get(who, id, "tries")
    if (get(who, id, "exit") != "" && get(who, id, "exit") != "0") n = n ", exit " get(who, id, "exit")
    return n
}
function cell(who, id,    c) {
    if (get(who, id, "skipped") != "") { c = get(who, id, "skipped"); gsub(/-/, " ", c); return c }
    if (get(who, id, "exit") == "") return "-"
    if (id == "pass") {
        c = get(who, id, "bitexact") == "yes" ? "yes" : "**no**"
        c = c ", " get(who, id, "matching")
        split(get(who, id, "captured"), cap, "/")
        if (cap[1] != cap[2]) c = c " (" cap[1] " of " cap[2] " played)"
        if (get(who, id, "first") + 0 >= 0) c = c ", first mismatch " get(who, id, "first")
    } else if (id == "v600" || id == "v2000") {
        if (get(who, id, "level") == "" || get(who, "v0", "level") == "") return "-"
        c = sprintf("%+.2f dB, THD+N %s", get(who, id, "level") - get(who, "v0", "level"),
                    get(who, id, "thdn"))
    } else {
        c = get(who, id, "thdn") " / " get(who, id, "level") " / " get(who, id, "sfdr")
    }
    return c notes(who, id) stream(who, id)
}
FNR == NR {
    if ($0 ~ /^#/ || trim($0) == "") next
    split($0, f, "|")
    id = trim(f[1]); ids[++n] = id; what[id] = trim(f[2])
    next
}
{
    who = $1; id = $2
    rest = $0; sub(/^[^ ]+ [^ ]+ /, "", rest)
    at = index(rest, "stream=")
    if (at > 0) { v[who, id, "stream"] = substr(rest, at + 7); rest = substr(rest, 1, at - 1) }
    k = split(rest, kv, " ")
    for (i = 1; i <= k; i++) {
        eq = index(kv[i], "=")
        if (eq > 0) v[who, id, substr(kv[i], 1, eq - 1)] = substr(kv[i], eq + 1)
    }
}
END {
    m = split(contenders, who_, " ")
    line = "| case |"; rule = "|---|"
    for (j = 1; j <= m; j++) { line = line " " who_[j] " |"; rule = rule "---|" }
    print line; print rule
    for (i = 1; i <= n; i++) {
        # Cases left out of the run (--cases) are left out of the table.
        line = "| " what[ids[i]] " |"; played = 0
        for (j = 1; j <= m; j++) {
            c = cell(who_[j], ids[i])
            if (c != "-") played = 1
            line = line " " c " |"
        }
        if (played) print line
    }
    line = "| gaps over 1 ms, the runs above |"
    for (j = 1; j <= m; j++) {
        total = 0
        for (i = 1; i <= n; i++) total += get(who_[j], ids[i], "gaps")
        line = line " " total " |"
    }
    print line
    print ""
    print "Tones: THD+N dB / level dBFS / SFDR dB (20 Hz to 24 kHz, 16-bit sources at -3 dBFS);"
    print "volume rows: the level against the volume-0 run, and THD+N; in brackets, the stream the"
    print "server got. \"try N\": the run kept was the Nth (the others had more gaps)."
}
