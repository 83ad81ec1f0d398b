# Sourced by the scripts that run the whole program on a fixture machine:
# a scratch folder to run in, removed at exit, and a failure report that
# shows what the program printed, logged and described.

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-demo-run-XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat stdout
    echo "--- stderr"; cat stderr
    [ -f sensorinfo.txt ] && { echo "--- sensorinfo.txt"; cat sensorinfo.txt; }
    exit 1
}
