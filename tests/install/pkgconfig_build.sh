#!/bin/bash
# Builds read_values.c, a five-line C program that reads the four values,
# with nothing but the flags of `pkg-config --cflags --libs quorvane`, then
# runs it.
#
# Usage: pkgconfig_build.sh CC SOURCE WORKDIR PKG_CONFIG_DIR [TOOL FIXTURE EXPECTED]
#   PKG_CONFIG_DIR  "-" for the system's quorvane.pc, and the program must
#                   run as it is; otherwise that installation's, and the
#                   program runs with LD_LIBRARY_PATH set to the libdir that
#                   quorvane.pc names
#   TOOL            quorvane-fixture, to run on the fixture machine FIXTURE,
#                   where the program must print EXPECTED; without them it
#                   runs on this machine and prints any well-formed values
# QUORVANE_BUILD_CFLAGS, when set, holds the compiler and linker flags that
# the installed library was built with and that its users need too (the
# sanitizers' runtime must come first, for example).
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"
require_real_library

cc=$1 source=$2 work=$3 pcdir=$4
shift 4
rm -rf "$work"
mkdir -p "$work"
if [ "$pcdir" != - ]; then
    export PKG_CONFIG_PATH="$pcdir"
fi

flags=$(pkg-config --cflags --libs quorvane) || fail "pkg-config does not know quorvane"
echo "pkg-config --cflags --libs quorvane: $flags"
# shellcheck disable=SC2086 # the flags, the build's too, are separate words
"$cc" ${QUORVANE_BUILD_CFLAGS:-} -std=c11 -Wall -Wextra -Werror -o "$work/read_values" "$source" $flags ||
    fail "read_values.c does not build with those flags"

if [ "$pcdir" != - ]; then
    libdir=$(pkg-config --variable=libdir quorvane)
    [ -f "$libdir/libquorvane.so.1" ] || fail "quorvane.pc names libdir $libdir, which has no library"
    export LD_LIBRARY_PATH="$libdir"
fi
if [ $# -ge 3 ]; then
    output=$(cd "$work" && "$1" "$2" ./read_values)
    status=$?
    [ $status -eq 77 ] && skip "the fixture machine could not be made"
    expected=$3
else
    output=$(cd "$work" && ./read_values)
    status=$?
    expected=""
fi
echo "read_values: $output"
[ $status -eq 0 ] || fail "read_values exited with $status"
if [ -n "$expected" ]; then
    [ "$output" = "$expected" ] || fail "read_values printed '$output', expected '$expected'"
fi
printf '%s\n' "$output" |
    grep -Eq '^status=-?[0-9]+ CPU=-?[0-9]+ GPU=-?[0-9]+ MBD=-?[0-9]+ FAN=-?[0-9]+$' ||
    fail "read_values printed '$output'"
