#!/usr/bin/env python3
"""Mutation study of a folder of the tree (run through scripts/mutate.sh).

Seeded single-point mutants, each applied to a private copy of the tree
(its own build directory; the working tree is never touched), rebuilt, and
run against the fast tests (unit, then device; no valgrind) under a time
limit. Operators: flip a comparison (< <=, > >=, == !=), move an integer
constant by one, negate an if/while condition, delete a statement with an
effect (an assignment, increment or call). The same seed and tree give the
same mutants.
"""
import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OPERATORS = ("comparison", "constant", "condition", "statement")
# Built for every mutant besides the test programs: loaded, not linked.
LOADED = ("mivo-dsound",)
FLIPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
KEYWORDS = {"return", "if", "while", "for", "case", "delete", "throw", "using", "typedef",
            "static_assert", "switch", "do", "else", "default", "break", "continue", "goto"}


def code_only(text):
    """The text with comments, strings, characters and preprocessor lines
    blanked (same length and lines), so that only code is mutated."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True
    conditional = 0  # inside #if: code another build compiles, or none
    while i < n:
        c = text[i]
        if line_start and (conditional or text[i:].lstrip(" \t").startswith("#")):
            j = text.find("\n", i)
            j = n if j < 0 else j
            directive = text[i:j].strip()
            if directive.startswith("#if"):
                conditional += 1
            elif directive.startswith("#endif"):
                conditional -= 1
            for k in range(i, j):
                out[k] = " "
            i, line_start = j, False
            continue
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j += 1
        else:
            line_start = c == "\n" or (line_start and c in " \t")
            i += 1
            continue
        for k in range(i, min(j, n)):
            if out[k] != "\n":
                out[k] = " "
        i = j
    return "".join(out)


def closing(code, open_at):
    depth = 0
    for k in range(open_at, len(code)):
        if code[k] == "(":
            depth += 1
        elif code[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def sites_in(path, text):
    """Every mutant of one file: (operator, start, end, replacement, what)."""
    code = code_only(text)
    found = []
    for m in re.finditer(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)", code):
        op = m.group(1)
        found.append(("comparison", m.start(), m.end(), FLIPS[op], "'%s' -> '%s'" % (op, FLIPS[op])))
    for m in re.finditer(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])", code):
        digits = m.group(1)
        value = int(digits, 16) if digits[:2] in ("0x", "0X") else int(digits)
        for moved in (value - 1, value + 1):
            if moved < 0:
                continue
            new = ("0x%X" % moved) if digits[:2] in ("0x", "0X") else str(moved)
            found.append(("constant", m.start(1), m.end(1), new, "%s -> %s" % (digits, new)))
    for m in re.finditer(r"\b(if|while)\s*\(", code):
        start = m.end() - 1
        end = closing(code, start)
        if end < 0 or code[m.end():end].strip() == "":
            continue
        inner = text[start + 1:end]
        found.append(("condition", start, end + 1, "(!(%s))" % inner,
                      "%s (%s) -> %s (!(...))" % (m.group(1), " ".join(inner.split())[:60], m.group(1))))
    found.extend(statements(code, text))
    return found


def statements(code, text):
    """Expression statements with an effect, one or more whole lines each."""
    found = []
    offsets = [0]
    for line in code.split("\n"):
        offsets.append(offsets[-1] + len(line) + 1)
    lines = code.split("\n")
    assign = re.compile(r"[A-Za-z_][\w:.\[\]>-]*\s*([-+*/%|&^]|<<|>>)?=[^=]")
    call = re.compile(r"[A-Za-z_][\w:.>-]*(<[\w:, ]*>)?\(")
    for number, line in enumerate(lines):
        stripped = line.strip()
        first = re.match(r"[A-Za-z_]\w*", stripped)
        if not first or first.group(0) in KEYWORDS:
            continue
        before = next((lines[k].strip() for k in range(number - 1, -1, -1) if lines[k].strip()), ";")
        if not before.endswith((";", "{", "}", ":")):
            continue  # inside a statement that began on an earlier line
        kind = None
        if re.match(r"(\+\+|--)[A-Za-z_]", stripped) or re.match(r"[\w.>-]+(\+\+|--);", stripped):
            kind = "increment"
        elif assign.match(stripped) and not re.match(r"[\w:]+\s+[\w:*&]", stripped):
            kind = "assignment"
        elif call.match(stripped):
            opened = stripped.index("(")
            args = stripped[opened:]
            if re.search(r"(?<![\w.>-])(?!sizeof\b)[A-Za-z_][\w:<>]*[*&]?\s+[*&]?[A-Za-z_]\w*\s*[,)=]",
                         args):
                continue  # a declaration's parameters, not a call's arguments
            kind = "call"
        if kind is None:
            continue
        # The statement runs to the line ending in ';' with its parentheses closed.
        depth, end = 0, None
        for later in range(number, min(number + 8, len(lines))):
            depth += lines[later].count("(") - lines[later].count(")")
            if depth == 0 and lines[later].rstrip().endswith(";"):
                end = later
                break
            if lines[later].rstrip().endswith(("{", "}")):
                break
        if end is None:
            continue
        body = code[offsets[number]:offsets[end + 1] - 1]
        if "{" in body or "}" in body or re.search(r"\)\s*(=|const\b|override\b)", body):
            continue
        start = offsets[number] + len(line) - len(line.lstrip())
        stop = offsets[end] + len(lines[end].rstrip())
        what = " ".join(text[start:stop].split())
        found.append(("statement", start, stop, "", "deleted %s: %s" % (kind, what[:70])))
    return found


def patched(root, listing):
    mutants = []
    for entry in open(listing):
        if not entry.strip() or entry.startswith("#"):
            continue
        path, number, old, new = entry.rstrip("\n").split("|", 3)
        text = open(os.path.join(root, path)).read()
        start = sum(len(line) for line in text.splitlines(True)[:int(number) - 1])
        start = text.index(old, start)
        mutants.append((path, text, "patch", start, start + len(old), new,
                        "%r -> %r" % (old, new)))
    return mutants


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def choose(files, seed, count):
    """`count` mutants drawn with `seed`: an operator at random, then one of
    its sites not drawn yet."""
    pool = {op: [] for op in OPERATORS}
    for path, text in files:
        for site in sites_in(path, text):
            pool[site[0]].append((path, text) + site)
    rng = random.Random(seed)
    chosen = []
    while len(chosen) < count and any(pool.values()):
        op = rng.choice([o for o in OPERATORS if pool[o]])
        chosen.append(pool[op].pop(rng.randrange(len(pool[op]))))
    return chosen


def run(command, cwd, limit=None, log=None):
    """Exit status of `command`, or None when it ran past `limit` seconds."""
    with open(log or os.devnull, "a") as out:
        process = subprocess.Popen(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        try:
            return process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return None


def copy_tree(source, target):
    """Tracked and new files of `source` into `target`; files already there
    and unchanged are left alone, so a kept copy rebuilds only what changed."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=source, check=True, capture_output=True).stdout.decode()
    for name in filter(None, listed.split("\0")):
        src, dst = os.path.join(source, name), os.path.join(target, name)
        if not os.path.isfile(src):
            continue
        if os.path.exists(dst) and open(src, "rb").read() == open(dst, "rb").read():
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        # A new time, later than the build's: what changed is rebuilt.
        shutil.copyfile(src, dst)
        shutil.copymode(src, dst)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder", nargs="?", default="softdsound")
    parser.add_argument("-n", "--count", type=int, default=50)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--limit", type=int, default=0,
                        help="seconds of testing per mutant (default: 3 x the unmutated run, 180 at least)")
    parser.add_argument("--work", help="keep the private copy here (reused by the next run)")
    parser.add_argument("--list", action="store_true", help="list the mutants, run nothing")
    parser.add_argument("--only", type=int, nargs="*", help="run only these mutant numbers")
    parser.add_argument("--patches", help="mutants from a file instead, one a line: "
                        "PATH|LINE|OLD|NEW (the first OLD on that line becomes NEW)")
    args = parser.parse_args()

    root = subprocess.run(["git", "rev-parse", "--show-toplevel"], check=True, capture_output=True,
                          text=True).stdout.strip()
    work = args.work or tempfile.mkdtemp(prefix="mivo-mutants-")
    tree = os.path.join(work, "tree")
    os.makedirs(tree, exist_ok=True)
    # Mutants come from the copy: the working tree may change meanwhile.
    copy_tree(root, tree)
    files = []
    for folder, _, names in sorted(os.walk(os.path.join(tree, args.folder))):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                path = os.path.relpath(os.path.join(folder, name), tree)
                files.append((path, open(os.path.join(tree, path)).read()))
    mutants = patched(tree, args.patches) if args.patches else choose(files, args.seed, args.count)
    digest = hashlib.sha1("".join(t for _, t in files).encode()).hexdigest()[:12]
    commit = subprocess.run(["git", "describe", "--always", "--dirty"], cwd=root, capture_output=True,
                            text=True).stdout.strip()
    print("mutants of %s/ at %s (%d files, sources %s), seed %d: %d" %
          (args.folder, commit, len(files), digest, args.seed, len(mutants)))
    if args.list:
        for number, (path, text, op, start, end, new, what) in enumerate(mutants, 1):
            print("%3d %-10s %s:%d  %s" % (number, op, path, line_of(text, start), what))
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
        return 0

    log = os.path.join(work, "log.txt")
    open(log, "w").close()
    build = ["cmake", "--build", "--preset", "debug", "-j", str(args.jobs)]
    # Quickest first, so that most mutants are caught early: the unit tests,
    # the device tests on SDL's disk driver, then those on private servers.
    # A flaky real-time test must fail twice to count.
    ctest = ["ctest", "--preset", "debug", "-j", str(args.jobs), "--stop-on-failure"]
    phases = [ctest + ["-L", "unit", "-LE", "valgrind"],
              ctest + ["-L", "device", "-LE", "valgrind|pulse|pipewire", "--repeat", "until-pass:2"],
              ctest + ["-L", "pulse|pipewire", "-LE", "valgrind", "--repeat", "until-pass:2"]]

    def tests(limit):
        """The outcome, and the tests that failed."""
        started = time.monotonic()
        for command in phases:
            left = None if limit is None else max(1, limit - (time.monotonic() - started))
            before = os.path.getsize(log)
            status = run(["nice", "-n", "19"] + command, tree, left, log)
            if status != 0:
                with open(log) as out:
                    out.seek(before)
                    report = out.read().split("The following tests FAILED:")[-1]
                    failed = re.findall(r"^\s*\d+ - (\S+)", report, re.M) if status else []
                return ("timed out" if status is None else "killed"), failed
        return "survived", []

    print("private copy: %s (log: %s)" % (tree, log), flush=True)
    if run(["nice", "-n", "19", "cmake", "--preset", "debug"], tree, None, log) != 0:
        print("the unmutated tree does not configure; see the log")
        return 2
    # Only what the tests run is rebuilt for each mutant: the programs named
    # in their commands, and the device library they load at run time.
    listing = subprocess.run(["ctest", "--preset", "debug", "-L", "unit|device|pulse|pipewire",
                              "-LE", "valgrind", "--show-only=json-v1"], cwd=tree,
                             capture_output=True, text=True)
    programs = set(LOADED)
    for test in json.loads(listing.stdout or "{}").get("tests", []):
        for arg in test.get("command", []):
            if "/bin/" in arg and os.path.join(tree, "build") in arg:
                programs.add(os.path.basename(arg))
    build += ["--target"] + sorted(programs)
    if run(["nice", "-n", "19"] + build, tree, None, log) != 0:
        print("the unmutated tree does not build; see the log")
        return 2
    # A test that fails on the unmutated tree (one that needs more of a
    # loaded machine than nice 19 leaves it) is left out, and said so.
    started = time.monotonic()
    outcome, failed = tests(None)
    if failed:
        print("failing unmutated, left out: %s" % ", ".join(failed), flush=True)
        left_out = "^(%s)$" % "|".join(re.escape(name) for name in failed)
        for command in phases:
            command.extend(["-E", left_out])
        outcome, failed = tests(None)
    if outcome != "survived":
        print("the unmutated tree fails its tests; see the log")
        return 2
    limit = args.limit or max(180, int(3 * (time.monotonic() - started)))
    print("time limit per mutant: %d s" % limit, flush=True)

    results = []
    for number, (path, text, op, start, end, new, what) in enumerate(mutants, 1):
        if args.only and number not in args.only:
            continue
        target = os.path.join(tree, path)
        where = "%s:%d" % (path, line_of(text, start))
        try:
            with open(target, "w") as out:
                out.write(text[:start] + new + text[end:])
            with open(log, "a") as out:
                out.write("\n=== mutant %d: %s %s\n" % (number, where, what))
            failed = []
            if run(["nice", "-n", "19"] + build, tree, None, log) != 0:
                outcome = "not compiled"
            else:
                outcome, failed = tests(limit)
        finally:
            with open(target, "w") as out:
                out.write(text)
        results.append((number, outcome, op, where, what))
        print("%3d %-12s %-10s %s  %s" % (number, outcome, op, where, what), flush=True)
        if failed:
            print("      by %s" % ", ".join(failed[:4] + (["..."] if len(failed) > 4 else [])),
                  flush=True)

    count = {k: sum(1 for r in results if r[1] == k)
             for k in ("killed", "timed out", "survived", "not compiled")}
    compiled = len(results) - count["not compiled"]
    detected = count["killed"] + count["timed out"]
    print("\nseed %d: %d mutants, %d compiled, %d not compiled" %
          (args.seed, len(results), compiled, count["not compiled"]))
    print("killed %d, timed out %d, survived %d" %
          (count["killed"], count["timed out"], count["survived"]))
    if compiled:
        print("kill rate (killed or timed out, of compiled): %.1f%%" % (100.0 * detected / compiled))
    for number, outcome, op, where, what in results:
        if outcome == "survived":
            print("survivor %d: %s  %s: %s" % (number, where, op, what))
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
