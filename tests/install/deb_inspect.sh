#!/bin/bash
# Inspects the three Debian packages with dpkg-deb -I and -c, and looks
# inside them: the split, the dependencies, the control files, the files
# with their modes, and the binaries (stripped, no RUNPATH).
#
# Usage: deb_inspect.sh WORK LIBDIR VERSION
#   LIBDIR   the library directory, e.g. usr/lib/x86_64-linux-gnu
#   VERSION  the project's version
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"
require_real_library

work=$1 libdir=$2 version=$3
arch=$(dpkg --print-architecture)
lib_deb="$work/libquorvane1_${version}_$arch.deb"
dev_deb="$work/libquorvane-dev_${version}_$arch.deb"
prog_deb="$work/quorvane-demo_${version}_$arch.deb"
for deb in "$lib_deb" "$dev_deb" "$prog_deb"; do
    [ -f "$deb" ] || fail "no package $deb"
    echo "=== dpkg-deb -I $(basename "$deb")"
    dpkg-deb -I "$deb" || fail "dpkg-deb -I cannot read $deb"
    echo "=== dpkg-deb -c $(basename "$deb")"
    dpkg-deb -c "$deb" || fail "dpkg-deb -c cannot read $deb"
done

field() { dpkg-deb -f "$1" "$2"; }

# Control fields: name, version, architecture, section, and dependencies.
# Those of the binaries come from dpkg-shlibdeps.
check_field() {
    local deb=$1 name=$2 pattern=$3 value
    value=$(field "$deb" "$name")
    printf '%s\n' "$value" | grep -Eq -- "$pattern" ||
        fail "$(basename "$deb"): $name is '$value', expected to match '$pattern'"
}
for deb in "$lib_deb" "$dev_deb" "$prog_deb"; do
    check_field "$deb" Version "^$version\$"
    check_field "$deb" Architecture "^$arch\$"
    check_field "$deb" Maintainer '^[^<]+ <[^@ ]+@[^> ]+>$'
    check_field "$deb" Source '^quorvane-demo$'
    [ "$(field "$deb" Description | wc -l)" -ge 3 ] ||
        fail "$(basename "$deb"): the description has no extended text"
done
check_field "$lib_deb" Package '^libquorvane1$'
check_field "$lib_deb" Section '^libs$'
check_field "$lib_deb" Depends '(^|, )libc6( |,|$)'
check_field "$lib_deb" Depends '(^|, )libsensors5( |,|$)'
check_field "$dev_deb" Package '^libquorvane-dev$'
check_field "$dev_deb" Section '^libdevel$'
check_field "$dev_deb" Depends "^libquorvane1 \(= $version\)\$"
check_field "$prog_deb" Package '^quorvane-demo$'
check_field "$prog_deb" Section '^utils$'
check_field "$prog_deb" Depends '(^|, )libc6( |,|$)'
check_field "$prog_deb" Depends "(^|, )libquorvane1 \(>= $version\)(,|$)"

# Control files: the library's shlibs line and its ldconfig trigger.
control() { dpkg-deb --ctrl-tarfile "$1" | tar -xOf - "./$2" 2>/dev/null; }
[ "$(control "$lib_deb" shlibs)" = "libquorvane 1 libquorvane1 (>= $version)" ] ||
    fail "libquorvane1's shlibs file is '$(control "$lib_deb" shlibs)'"
control "$lib_deb" triggers | grep -qx 'activate-noawait ldconfig' ||
    fail "libquorvane1 does not activate the ldconfig trigger"
for deb in "$dev_deb" "$prog_deb"; do
    [ -z "$(control "$deb" shlibs)" ] || fail "$(basename "$deb") has a shlibs file"
done

# Contents: every file with its mode, nothing more. The library's real file
# may carry a full version (libquorvane.so.1.0.0) behind the soname link.
contents() {
    dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/ ->.*/, ""); print substr($1, 1, 10), $NF }' |
        sed -E "s|^(-rw-r--r--) \./$libdir/libquorvane\.so\.1\.[0-9.]+$|\1 ./$libdir/libquorvane.so.1.VERSION|" |
        sort
}
expect_contents() {
    local deb=$1
    shift
    printf '%s\n' "$@" | sort | diff -u - <(contents "$deb") ||
        fail "$(basename "$deb"): contents differ (- expected, + found)"
}
docs() {
    echo "-rw-r--r-- ./usr/share/doc/$1/changelog.gz"
    echo "-rw-r--r-- ./usr/share/doc/$1/copyright"
}
if dpkg-deb -c "$lib_deb" | grep -q "libquorvane\.so\.1 ->"; then
    lib_files=("lrwxrwxrwx ./$libdir/libquorvane.so.1" "-rw-r--r-- ./$libdir/libquorvane.so.1.VERSION")
else
    lib_files=("-rw-r--r-- ./$libdir/libquorvane.so.1")
fi
expect_contents "$lib_deb" "${lib_files[@]}" "$(docs libquorvane1)"
expect_contents "$dev_deb" \
    "-rw-r--r-- ./usr/include/quorvane.h" \
    "lrwxrwxrwx ./$libdir/libquorvane.so" \
    "-rw-r--r-- ./$libdir/pkgconfig/quorvane.pc" \
    "$(docs libquorvane-dev)"
readme=()
[ -f "$(dirname "$0")/../../README.md" ] && readme=("-rw-r--r-- ./usr/share/doc/quorvane-demo/README.md")
expect_contents "$prog_deb" \
    "-rwxr-xr-x ./usr/bin/quorvane-demo" \
    "-rw-r--r-- ./usr/share/man/man1/quorvane-demo.1.gz" \
    "${readme[@]}" \
    "$(docs quorvane-demo)"
for deb in "$lib_deb" "$dev_deb" "$prog_deb"; do
    if dpkg-deb -c "$deb" | awk '{ print $2 }' | grep -v '^root/root$'; then
        fail "$(basename "$deb") has files not owned by root"
    fi
done

# Inside: binaries stripped and without RUNPATH, valid compressed documents,
# a pkg-config file naming the system's directories.
tree="$work/inspect"
rm -rf "$tree"
for deb in "$lib_deb" "$dev_deb" "$prog_deb"; do
    dpkg-deb -x "$deb" "$tree" || fail "cannot unpack $deb"
done
for binary in "$tree/usr/bin/quorvane-demo" "$(realpath "$tree/$libdir/libquorvane.so.1")"; do
    file "$binary" | grep -q ', stripped' || fail "$binary is not stripped"
    if readelf -d "$binary" | grep -E '\((RPATH|RUNPATH)\)'; then
        fail "$binary has a RUNPATH or RPATH"
    fi
done
readelf -d "$tree/usr/bin/quorvane-demo" | grep -q 'NEEDED.*\[libquorvane\.so\.1\]' ||
    fail "the program does not need libquorvane.so.1"
[ "$(readelf -d "$tree/$libdir/libquorvane.so.1" | sed -n 's/.*(SONAME).*\[\(.*\)\]$/\1/p')" = libquorvane.so.1 ] ||
    fail "the library's SONAME is not libquorvane.so.1"
for gz in "$tree"/usr/share/doc/*/changelog.gz "$tree/usr/share/man/man1/quorvane-demo.1.gz"; do
    gzip -t "$gz" || fail "$gz is not valid gzip"
    # Bytes 4 to 7 of a gzip header hold the time stamp: 0 when gzip -n made it.
    [ "$(od -An -tx1 -j4 -N4 "$gz" | tr -d ' ')" = 00000000 ] || fail "$gz has a time stamp"
done
zcat "$tree/usr/share/doc/quorvane-demo/changelog.gz" | head -n 1 | grep -q "^quorvane-demo ($version) " ||
    fail "the changelog's latest entry is not version $version"
for pkg in libquorvane1 libquorvane-dev quorvane-demo; do
    head -n 1 "$tree/usr/share/doc/$pkg/copyright" |
        grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
        fail "$pkg's copyright file is not in the machine-readable format"
    grep -q '^License: Expat$' "$tree/usr/share/doc/$pkg/copyright" || fail "$pkg's copyright names no licence"
done
grep -qx 'prefix=/usr' "$tree/$libdir/pkgconfig/quorvane.pc" || fail "quorvane.pc does not name prefix /usr"
echo "all three packages are as expected"
