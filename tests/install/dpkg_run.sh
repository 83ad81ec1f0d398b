#!/bin/bash
# Runs quorvane-demo as installed by dpkg, found through PATH, end to end.
#
# Usage: dpkg_run.sh WORK [TOOL FIXTURE FIRST SAMPLE]
#   TOOL     quorvane-fixture, to run on the fixture machine FIXTURE, where
#            the first line and every sample are known: FIRST is the first
#            line, SAMPLE every sample line after its number. Without them
#            the run is on this machine, with whatever sensors it has.
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"
require_real_library

work=$1
[ "$(id -u)" -eq 0 ] || skip "the packages are installed only as root"
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
unset LD_LIBRARY_PATH
[ "$(command -v quorvane-demo)" = /usr/bin/quorvane-demo ] ||
    fail "quorvane-demo on PATH is '$(command -v quorvane-demo)', not /usr/bin/quorvane-demo"
library=$(ldd /usr/bin/quorvane-demo | sed -n 's/^[[:space:]]*libquorvane\.so\.1 => \([^ ]*\) .*/\1/p')
case $library in
/usr/lib/*/libquorvane.so.1 | /lib/*/libquorvane.so.1) echo "libquorvane.so.1 => $library" ;;
*) fail "the installed program loads libquorvane.so.1 from '$library'" ;;
esac
if command -v man >/dev/null; then
    [ "$(man -w quorvane-demo)" = /usr/share/man/man1/quorvane-demo.1.gz ] ||
        fail "man does not find quorvane-demo(1)"
fi
if [ $# -ge 5 ]; then
    # The fixture tool starts quorvane-demo through PATH as well (execvp).
    echo "on the fixture machine $3"
    check_run "$work/run" "$4" "$5" "$2" "$3" quorvane-demo
else
    echo "on this machine"
    check_run "$work/run" "" "" quorvane-demo
fi
