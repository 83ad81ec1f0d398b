#!/bin/bash
# Builds read_values.c, a five-line C program that reads the four values,
# with nothing but the flags of `pkg-config --cflags --libs quorvane`, then
# runs it.
#
# Usage: pkgconfig_build.sh CC SOURCE WORKDIR [PKG_CONFIG_DIR]
# Without PKG_CONFIG_DIR the system's quorvane.pc is used and the program
# must run as it is; with it, that installation's, and the program runs
# with LD_LIBRARY_PATH set to the libdir that quorvane.pc names.
. "$(dirname "$0")/common.sh"
require_real_library

cc=$1 source=$2 work=$3 pcdir=${4:-}
rm -rf "$work"
mkdir -p "$work"
if [ -n "$pcdir" ]; then
    export PKG_CONFIG_PATH="$pcdir"
fi

flags=$(pkg-config --cflags --libs quorvane) || fail "pkg-config does not know quorvane"
echo "pkg-config --cflags --libs quorvane: $flags"
# shellcheck disable=SC2086 # the flags are separate words
"$cc" -std=c11 -Wall -Wextra -Werror -o "$work/read_values" "$source" $flags ||
    fail "read_values.c does not build with those flags"

if [ -n "$pcdir" ]; then
    libdir=$(pkg-config --variable=libdir quorvane)
    [ -f "$libdir/libquorvane.so.1" ] || fail "quorvane.pc names libdir $libdir, which has no library"
    export LD_LIBRARY_PATH="$libdir"
fi
output=$(cd "$work" && ./read_values) || fail "read_values failed"
echo "read_values: $output"
printf '%s\n' "$output" |
    grep -Eq '^status=-?[0-9]+ CPU=-?[0-9]+ GPU=-?[0-9]+ MBD=-?[0-9]+ FAN=-?[0-9]+$' ||
    fail "read_values printed '$output'"
