#!/bin/bash
# Runs lintian on every package: no error may remain. Warnings and notes are
# printed for the record.
#
# Usage: deb_lintian.sh WORK
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"
require_real_library

work=$1
command -v lintian >/dev/null || skip "lintian is missing (apt-get install lintian)"
debs=("$work"/*.deb)
[ -f "${debs[0]}" ] || fail "no packages in $work"
# Root is fine here: lintian only reads the packages.
lintian --fail-on error --display-info --pedantic --no-tag-display-limit "${debs[@]}" 2>&1 |
    grep -v 'running with root privileges is not recommended'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || fail "lintian reports errors (status $status)"
echo "lintian: no errors in ${#debs[@]} packages"
