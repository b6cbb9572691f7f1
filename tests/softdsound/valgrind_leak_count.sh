#!/usr/bin/env bash
# Runs a program under valgrind: any memory error fails, and so do LIMIT or
# more blocks definitely lost. libpulse leaks every operation it cancels
# while its answer is still on the way (the reply slot goes without
# releasing the operation), which a loaded machine brings about now and
# then: an answer past its time limit, a request pending when its stream
# closes. The device leaking on every stream it opens or closes leaks many
# times that.
#   valgrind_leak_count.sh LIMIT VALGRIND [VALGRIND_ARG...] -- PROGRAM [ARG...]
set -uo pipefail
limit="$1" valgrind="$2"
shift 2
options=()
while [ "$1" != "--" ]; do
    options+=("$1")
    shift
done
shift
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
"$valgrind" --log-file="$log" --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=none \
    --child-silent-after-fork=yes "${options[@]}" "$@"
status=$?
lost=$(sed -n 's/.*definitely lost: [0-9,]* bytes in \([0-9,]*\) blocks.*/\1/p' "$log" | tr -d , |
       tail -1)
if [ "$status" -ne 0 ] || [ "${lost:-0}" -ge "$limit" ]; then
    cat "$log"
    echo "FAIL: exit $status, ${lost:-0} blocks definitely lost (the limit is $limit)"
    exit 1
fi
echo "${lost:-0} blocks definitely lost (the limit is $limit)"
