#!/bin/bash
# Installs the three packages on this machine with dpkg -i. dpkg_purge.sh
# removes them again. Needs root.
#
# Usage: dpkg_install.sh WORK
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"
require_real_library

work=$1
[ "$(id -u)" -eq 0 ] || skip "dpkg -i needs root"
debs=("$work"/*.deb)
{ [ "${#debs[@]}" -eq 3 ] && [ -f "${debs[0]}" ]; } || fail "expected three packages in $work"
dpkg -i "${debs[@]}" || fail "dpkg -i failed"
for pkg in libquorvane1 libquorvane-dev quorvane-demo; do
    [ "$(dpkg-query -W -f '${db:Status-Status}' "$pkg")" = installed ] || fail "$pkg is not installed"
done
ldconfig -p | grep -q 'libquorvane\.so\.1 ' || fail "the loader's cache does not list libquorvane.so.1"
echo "installed: $(dpkg-query -W libquorvane1 libquorvane-dev quorvane-demo | tr '\n' ' ')"
