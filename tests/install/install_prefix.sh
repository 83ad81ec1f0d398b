#!/bin/bash
# Installs the build into a scratch prefix with cmake --install, checks what
# was installed, then moves the prefix elsewhere, one level deeper, so that
# the tests that follow use an installation that was never where it was
# installed.
#
# Usage: install_prefix.sh BUILD_DIR SCRATCH BINDIR LIBDIR INCLUDEDIR MANDIR DOCDIR RUNPATH
# (the install directories relative to the prefix; RUNPATH the program's
# expected RUNPATH). The moved prefix is SCRATCH/moved/prefix.
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"

build=$1 scratch=$2 bindir=$3 libdir=$4 includedir=$5 mandir=$6 docdir=$7 runpath=$8

require_real_library

rm -rf "$scratch"
mkdir -p "$scratch/moved"
cmake --install "$build" --prefix "$scratch/first" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "cmake --install failed"; }

# Everything installed, and nothing else: no part of the stand-in library.
(cd "$scratch/first" && find . ! -type d | sed 's|^\./||' | sort) >"$scratch/installed"
{
    echo "$bindir/quorvane-demo"
    echo "$docdir/LICENSE"
    [ -f "$(dirname "$0")/../../README.md" ] && echo "$docdir/README.md"
    echo "$includedir/quorvane.h"
    echo "$libdir/libquorvane.so"
    echo "$libdir/libquorvane.so.1"
    echo "$libdir/pkgconfig/quorvane.pc"
    echo "$mandir/man1/quorvane-demo.1.gz"
} >"$scratch/expected"
# The library may carry a full version after the soname's (libquorvane.so.1.0.0).
grep -vE "^$libdir/libquorvane\.so\.1\.[0-9.]+$" "$scratch/installed" | sort >"$scratch/installed.main"
sort "$scratch/expected" | diff -u - "$scratch/installed.main" ||
    fail "the installed files differ from the expected (- expected, + installed)"

[ -L "$scratch/first/$libdir/libquorvane.so" ] || fail "$libdir/libquorvane.so is not a link"
[ "$(readlink "$scratch/first/$libdir/libquorvane.so")" = libquorvane.so.1 ] ||
    fail "libquorvane.so does not point at the soname libquorvane.so.1"
gzip -t "$scratch/first/$mandir/man1/quorvane-demo.1.gz" || fail "the man page is not valid gzip"

mv "$scratch/first" "$scratch/moved/prefix" || fail "cannot move the installation"
program="$scratch/moved/prefix/$bindir/quorvane-demo"
found=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
[ "$found" = "$runpath" ] || fail "RUNPATH is '$found', expected exactly '$runpath'"
readelf -d "$program" | grep -q '(RPATH)' && fail "the program has an old-style RPATH"
echo "installed in $scratch/first, moved to $scratch/moved/prefix; RUNPATH $found"
