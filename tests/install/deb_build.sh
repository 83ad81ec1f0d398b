#!/bin/bash
# Builds the Debian packages the way the README says, with the linux-deb
# configure preset, in a build tree of its own under WORK.
#
# Usage: deb_build.sh SOURCE_DIR WORK
# shellcheck source=tests/install/common.sh
. "$(dirname "$0")/common.sh"
require_real_library

source=$1 work=$2
for tool in dpkg-deb dpkg-shlibdeps file; do
    command -v $tool >/dev/null || skip "$tool is missing (apt-get install dpkg-dev file)"
done

rm -rf "$work"
cmake -S "$source" --preset linux-deb -B "$work" >"$work.configure.log" 2>&1 ||
    { cat "$work.configure.log"; fail "configuring with the linux-deb preset failed"; }
cmake --build "$work" -j2 >"$work.build.log" 2>&1 ||
    { tail -50 "$work.build.log"; fail "building with the linux-deb preset failed"; }
(cd "$work" && cpack) >"$work.cpack.log" 2>&1 ||
    { cat "$work.cpack.log"; fail "cpack failed"; }
cat "$work.cpack.log"
debs=("$work"/*.deb)
printf '%s\n' "${debs[@]}"
{ [ "${#debs[@]}" -eq 3 ] && [ -f "${debs[0]}" ]; } || fail "cpack did not make exactly three packages"
