#!/usr/bin/env bash
# Mutation study: how many seeded single-point faults in a folder of the
# library the fast tests catch. Run by hand or from a scheduled job, not in
# CI (one run rebuilds and tests the tree once per mutant). Each mutant is
# applied to a private copy of the tree with its own build directory, so the
# working tree is never changed and an interrupted run leaves nothing in it.
#   scripts/mutate.sh [FOLDER] [-n N] [--seed S] [--jobs J] [--limit SECONDS]
#                     [--work DIR] [--list] [--only K...] [--patches FILE]
# Defaults: softdsound/, 50 mutants, seed 1, 2 jobs. --work keeps the copy
# (and its build) for the next run; --list only prints the mutants. See
# scripts/mutate.py for the operators and the report.
set -euo pipefail
cd "$(dirname "$0")/.."
exec nice -n 19 python3 scripts/mutate.py "$@"
