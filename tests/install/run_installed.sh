#!/bin/bash
# Runs the program of the moved installation (install_prefix.sh) end to end,
# with no LD_LIBRARY_PATH: it must find the installed library through its
# RUNPATH alone, never the build tree's or the system's.
#
# Usage: run_installed.sh SCRATCH BINDIR LIBDIR [EXPECTED_FIRST_LINE]
. "$(dirname "$0")/common.sh"
require_real_library

scratch=$1 bindir=$2 libdir=$3 expected_first=${4:-}
prefix="$scratch/moved/prefix"
program="$prefix/$bindir/quorvane-demo"
[ -x "$program" ] || fail "no installed program at $program"

resolved=$(env -u LD_LIBRARY_PATH ldd "$program" | sed -n 's/^[[:space:]]*libquorvane\.so\.1 => \([^ ]*\) .*/\1/p')
[ -n "$resolved" ] || fail "the loader does not find libquorvane.so.1 for $program"
[ "$(realpath "$resolved")" = "$(realpath "$prefix/$libdir/libquorvane.so.1")" ] ||
    fail "the program loads $resolved, not the library of its own installation"
echo "libquorvane.so.1 => $resolved"

check_run "$scratch/run" "$expected_first" env -u LD_LIBRARY_PATH "$program"
