# shellcheck shell=bash
# Shared by the installation and package tests. Source it; it defines:
#   fail MESSAGE...      print and exit 1
#   skip MESSAGE...      print and exit 77 (the tests' SKIP_RETURN_CODE);
#                        under CI (CI=true) a skip is a failure
#   not_applicable MESSAGE...
#                        exit 77 even under CI: the build itself has nothing
#                        to test (it links the stand-in library)
#   require_real_library
#                        not_applicable unless the build installs the real
#                        sensor library (QUORVANE_BUILD_DIR names the build)
#   check_run DIR EXPECTED_FIRST_LINE EXPECTED_SAMPLE COMMAND...
#                        runs COMMAND once in DIR, standard input /dev/null,
#                        and checks the whole run: transcript, run log,
#                        sensor description, exit status, duration.
#                        EXPECTED_FIRST_LINE empty: any well-formed status;
#                        EXPECTED_SAMPLE (every sample line after its
#                        number) empty: any well-formed readings. A COMMAND
#                        that exits 77 (a fixture that cannot be built)
#                        skips the test.

set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() {
    if [ "${CI:-}" = true ]; then
        fail "$* (under CI this cannot be skipped)"
    fi
    echo "SKIP: $*"
    exit 77
}

not_applicable() {
    echo "SKIP: $*"
    exit 77
}

require_real_library() {
    [ "$(cat "${QUORVANE_BUILD_DIR:?}/packaging/installs-library" 2>/dev/null)" = ON ] ||
        not_applicable "this build links the stand-in library, which is never installed"
}

# The run's console transcript up to the final prompt: the status line and
# twenty sample lines, in the run's own formats.
check_transcript() {
    local file=$1 expected_first=$2 expected_sample=$3
    local first
    first=$(head -n 1 "$file")
    if [ -n "$expected_first" ]; then
        [ "$first" = "$expected_first" ] ||
            fail "first line is '$first', expected '$expected_first'"
    elif ! printf '%s\n' "$first" | grep -Eq '^Initializing\.\.\.(OK, 0|Error, -?[1-9][0-9]*)$'; then
        fail "first line '$first' is not a status line"
    fi
    local n=1
    while [ $n -le 20 ]; do
        local line expected
        line=$(sed -n "$((n + 1))p" "$file")
        expected=$(printf '[%02d] ' $n)
        case $line in
        "$expected"*) ;;
        *) fail "line $((n + 1)) is '$line', expected sample $expected" ;;
        esac
        if [ -n "$expected_sample" ]; then
            [ "$line" = "$expected$expected_sample" ] ||
                fail "line $((n + 1)) is '$line', expected '$expected$expected_sample'"
        fi
        printf '%s\n' "${line#"$expected"}" |
            grep -Eq '^CPU=-?[0-9]+, GPU=-?[0-9]+, MBD=-?[0-9]+, FAN=-?[0-9]+$' ||
            fail "sample line '$line' is malformed"
        n=$((n + 1))
    done
    echo "status line: $first"
}

check_run() {
    local dir=$1 expected_first=$2 expected_sample=$3
    shift 3
    mkdir -p "$dir" || fail "cannot create $dir"
    rm -f "$dir/demo_log.txt" "$dir/sensorinfo.txt" "$dir/stdout" "$dir/stderr"

    local start end status
    start=$(date +%s%N)
    (cd "$dir" && exec "$@" </dev/null >stdout 2>stderr)
    status=$?
    end=$(date +%s%N)

    echo "--- console:"
    cat "$dir/stdout"
    echo
    [ -s "$dir/stderr" ] && { echo "--- stderr:"; cat "$dir/stderr"; }
    [ $status -eq 77 ] && skip "the run could not be made (see above)"
    [ $status -eq 0 ] || fail "exit status $status, expected 0"
    [ ! -s "$dir/stderr" ] || fail "the run wrote to standard error"

    local elapsed_ms=$(((end - start) / 1000000))
    echo "run took $elapsed_ms ms"
    # Twenty pauses of 500 ms: a lower bound only.
    [ $elapsed_ms -ge 10000 ] || fail "the run took $elapsed_ms ms, less than 20 x 500 ms"

    check_transcript "$dir/stdout" "$expected_first" "$expected_sample"
    [ "$(sed -n 22p "$dir/stdout")" = "Press any key to continue . . . " ] ||
        fail "line 22 is not the final prompt"
    [ "$(wc -l <"$dir/stdout")" -eq 22 ] || fail "the console has more than 22 lines"

    [ -f "$dir/demo_log.txt" ] || fail "no demo_log.txt"
    head -n 21 "$dir/stdout" | sed 's/$/\r/' | cmp -s - "$dir/demo_log.txt" ||
        fail "demo_log.txt is not the transcript with CR LF line ends"
    [ -s "$dir/sensorinfo.txt" ] || fail "the library wrote no sensorinfo.txt"
}
