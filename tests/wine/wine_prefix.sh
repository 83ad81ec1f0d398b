#!/bin/sh
# The Wine prefix that the Windows tests share, as a CTest fixture.
#   wine_prefix.sh setup    creates the prefix, starts a persistent wine
#                           server and finds out whether this build's
#                           programs run here; writes the answer to
#                           $QUORVANE_WINE_STATUS ("ready" or a reason)
#   wine_prefix.sh cleanup  stops the server and every program in the prefix
# Environment: WINEPREFIX, QUORVANE_WINE, QUORVANE_WINESERVER,
# QUORVANE_PROBE_EXE, QUORVANE_ARCH, QUORVANE_WINE_STATUS, QUORVANE_WINE_REQUIRED (1: a
# machine that cannot run the programs fails the setup; 0: the tests skip).
set -u

# Wine's background programs keep the output they were given open as long
# as the server lives: they get a file, never the test's pipes.
log="$WINEPREFIX.log"

fail_or_skip() {
    reason="$1"
    tail -n 5 "$log" >&2
    if [ "$QUORVANE_WINE_REQUIRED" = 1 ]; then
        echo "wine_prefix.sh: $reason" >&2
        exit 1
    fi
    echo "$reason" >"$QUORVANE_WINE_STATUS"
    echo "wine_prefix.sh: $reason; the Wine tests of this build skip" >&2
    exit 0
}

case "${1:-}" in
setup)
    "$QUORVANE_WINESERVER" -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX" "$QUORVANE_WINE_STATUS" "$log"
    mkdir -p "$WINEPREFIX"
    # A persistent server, started first, so that no test's wine command
    # starts one that inherits its pipes.
    "$QUORVANE_WINESERVER" -p </dev/null >>"$log" 2>&1 ||
        fail_or_skip "the wine server does not start"
    "$QUORVANE_WINE" wineboot --init </dev/null >>"$log" 2>&1 ||
        fail_or_skip "$QUORVANE_WINE cannot run $QUORVANE_ARCH Windows programs on this machine"
    probe=$("$QUORVANE_WINE" "$QUORVANE_PROBE_EXE" </dev/null 2>>"$log")
    case "$probe" in
    probe-ran*) echo ready >"$QUORVANE_WINE_STATUS" ;;
    *) fail_or_skip "$QUORVANE_WINE cannot run $QUORVANE_ARCH Windows programs on this machine" ;;
    esac
    ;;
cleanup)
    "$QUORVANE_WINESERVER" -k >/dev/null 2>&1
    exit 0
    ;;
*)
    echo "usage: wine_prefix.sh setup|cleanup" >&2
    exit 2
    ;;
esac
