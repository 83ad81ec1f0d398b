#!/bin/bash
# Purges the three packages, whether or not they are installed, and checks
# that the system holds no trace of the library. The clean-up step of the
# dpkg tests, and the setup of tests that need the library absent.
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"

[ "$(id -u)" -eq 0 ] || skip "dpkg --purge needs root"
dpkg --purge quorvane-demo libquorvane-dev libquorvane1 || fail "dpkg --purge failed"
for pkg in libquorvane1 libquorvane-dev quorvane-demo; do
    status=$(dpkg-query -W -f '${db:Status-Status}' "$pkg" 2>/dev/null)
    [ -z "$status" ] || [ "$status" = not-installed ] || fail "$pkg is still $status"
done
for path in /usr/bin/quorvane-demo /usr/include/quorvane.h /usr/share/man/man1/quorvane-demo.1.gz \
    /usr/share/doc/quorvane-demo /usr/share/doc/libquorvane1 /usr/share/doc/libquorvane-dev; do
    [ ! -e "$path" ] || fail "$path is left after the purge"
done
if ls /usr/lib/*/libquorvane.so* /usr/lib/*/pkgconfig/quorvane.pc 2>/dev/null; then
    fail "library files are left after the purge"
fi
if ldconfig -p | grep 'libquorvane\.so'; then
    fail "the loader's cache still lists the library"
fi
echo "no quorvane package and no library on the system"
