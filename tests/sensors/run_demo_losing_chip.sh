#!/bin/bash
# Runs the whole program on the AMD desktop fixture and unloads its CPU chip
# (removes the k10temp hwmon directory) three seconds into the run: CPU reads
# 53 until then and 0 after, the other readings go on, and sensorinfo.txt is
# written again at shut-down to say why.
#
# run_demo_losing_chip.sh TOOL DEMO FIXTURE_DIR
set -u
tool=$1 demo=$2 fixtures=$3

. "$(dirname "$0")/run_common.sh"

# Inside the fixture's namespace: the program, and the chip going away.
env -u LD_LIBRARY_PATH "$tool" "$fixtures/amd-desktop.hwmon" sh -c '
    "$1" </dev/null >stdout 2>stderr &
    sleep 3
    rm -rf /sys/class/fixture-devices/0000:00:18.3/hwmon
    wait $!' sh "$demo"
rc=$?
[ $rc -eq 77 ] && exit 77
[ $rc -eq 0 ] || fail "exit status $rc"
[ -s stderr ] && fail "the run wrote to standard error"

samples=$(grep '^\[' stdout)
[ "$(echo "$samples" | wc -l)" -eq 20 ] || fail "not twenty samples"
# CPU: 53 for a while, then 0 to the end; nothing else changes.
cpu=$(echo "$samples" | sed 's/.*CPU=\([-0-9]*\),.*/\1/' | uniq | tr '\n' ' ')
[ "$cpu" = "53 0 " ] || fail "CPU went: $cpu"
[ "$(echo "$samples" | grep -vc 'GPU=41, MBD=36, FAN=1450$')" -eq 0 ] ||
    fail "the other readings changed"
[ "$(cat demo_log.txt)" = "$(sed 's/$/\r/' <(head -n 21 stdout))" ] ||
    fail "demo_log.txt is not the transcript with CR LF"
grep -q 'Written again at shut-down' sensorinfo.txt || fail "sensorinfo.txt not written again"
grep -q 'reads since bring-up stored nothing' sensorinfo.txt ||
    fail "sensorinfo.txt does not count the failed reads"
echo "ok: CPU went $cpu"
