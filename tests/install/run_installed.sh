#!/bin/bash
# Runs the program of the moved installation (install_prefix.sh) end to end,
# with no LD_LIBRARY_PATH: it must find the installed library through its
# RUNPATH alone, never the build tree's or the system's.
#
# Usage: run_installed.sh SCRATCH BINDIR LIBDIR RUNDIR [TOOL FIXTURE FIRST SAMPLE]
#   RUNDIR   a directory of this run's own, for its files
#   TOOL     quorvane-fixture, to run on the fixture machine FIXTURE, where
#            the first line and every sample are known: FIRST is the first
#            line, SAMPLE every sample line after its number. Without them
#            the run is on this machine, with whatever sensors it has.
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"
require_real_library

scratch=$1 bindir=$2 libdir=$3 rundir=$4
prefix="$scratch/moved/prefix"
program="$prefix/$bindir/quorvane-demo"
[ -x "$program" ] || fail "no installed program at $program"

resolved=$(env -u LD_LIBRARY_PATH ldd "$program" | sed -n 's/^[[:space:]]*libquorvane\.so\.1 => \([^ ]*\) .*/\1/p')
[ -n "$resolved" ] || fail "the loader does not find libquorvane.so.1 for $program"
[ "$(realpath "$resolved")" = "$(realpath "$prefix/$libdir/libquorvane.so.1")" ] ||
    fail "the program loads $resolved, not the library of its own installation"
echo "libquorvane.so.1 => $resolved"

if [ $# -ge 8 ]; then
    echo "on the fixture machine $6"
    check_run "$rundir" "$7" "$8" env -u LD_LIBRARY_PATH "$5" "$6" "$program"
else
    echo "on this machine"
    check_run "$rundir" "" "" env -u LD_LIBRARY_PATH "$program"
fi
