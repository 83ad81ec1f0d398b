#!/bin/bash
# Runs the whole program on a fixture machine and checks what it prints, logs
# and describes.
#
# run_demo_on_fixture.sh TOOL DEMO FIXTURE STATUS SAMPLE SOURCE...
#   TOOL     the quorvane-fixture program
#   DEMO     the quorvane-demo program, which finds the real library through
#            its own RUNPATH
#   STATUS   the rest of the first line, e.g. "OK, 0"
#   SAMPLE   every sample line after its number, e.g. "CPU=46, GPU=0, ..."
#   SOURCE   lines that sensorinfo.txt must hold
set -u
tool=$1 demo=$2 fixture=$3 status=$4 sample=$5
shift 5

. "$(dirname "$0")/run_common.sh"

start=$(date +%s%N)
# No LD_LIBRARY_PATH: the program must find the real library by itself.
env -u LD_LIBRARY_PATH "$tool" "$fixture" "$demo" </dev/null >stdout 2>stderr
rc=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ $rc -eq 77 ] && { cat stderr; exit 77; }
[ $rc -eq 0 ] || fail "exit status $rc"
[ -s stderr ] && fail "the run wrote to standard error"

expected="Initializing...$status"$'\n'
for n in $(seq 1 20); do
    expected+=$(printf '[%02d] %s' "$n" "$sample")$'\n'
done
[ "$(head -n 21 stdout)"$'\n' = "$expected" ] || fail "transcript differs; expected:
$expected"
[ "$(cat demo_log.txt)" = "$(printf '%s' "$expected" | sed 's/$/\r/')" ] ||
    fail "demo_log.txt is not the transcript with CR LF"
# Twenty pauses of 500 ms: a lower bound only.
[ $elapsed_ms -ge 10000 ] || fail "the run took $elapsed_ms ms, less than 20 x 500 ms"

grep -q '^Quorvane sensor library .* for Linux, on libsensors' sensorinfo.txt ||
    fail "sensorinfo.txt is not the real library's"
for line in "$@"; do
    grep -qF -- "$line" sensorinfo.txt || fail "sensorinfo.txt lacks: $line"
done
echo "ok: $fixture in $elapsed_ms ms"
