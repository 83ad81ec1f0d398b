#!/bin/sh
# One whole run of the program under valgrind's memcheck, in a scratch
# directory: no memory error, no leak, and no descriptor of its own left open
# at exit.
#   memcheck.sh PROGRAM [LIBRARY_DIR]
set -eu
program=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
if [ $# -ge 2 ]; then
    LD_LIBRARY_PATH=$2
    export LD_LIBRARY_PATH
fi

status=0
valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --track-fds=yes --log-file=valgrind.log \
    "$program" </dev/null >console.txt || status=$?
cat valgrind.log
if [ "$status" -ne 0 ]; then
    echo "memcheck: the run ended with status $status"
    exit 1
fi
# Descriptors open at exit that the program opened itself (not inherited).
leaked=$(awk '/Open file descriptor/ { fd = $0; next }
              fd != "" { if ($0 !~ /inherited from parent/) print fd; fd = "" }' valgrind.log)
if [ -n "$leaked" ]; then
    echo "memcheck: descriptors left open at exit:"
    echo "$leaked"
    exit 1
fi
grep -q '^Initializing\.\.\.' console.txt
echo "memcheck: clean"
