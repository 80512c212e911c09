# Shared by the packaging tests (sourced): a fresh temporary folder per test,
# and checks that report each failure and let the test go on. A test ends with
# `finish`, which prints a summary and sets the exit code; the folder is
# removed when every check passed and kept for a look otherwise.
set -uo pipefail

test_name=$(basename "$0" .sh)
checks=0
failures=0
work=$(mktemp -d "${TMPDIR:-/tmp}/vorrel-$test_name.XXXXXX")
cleanup() {
    if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "Kept for a look: $work"; fi
}
trap cleanup EXIT

# check DESCRIPTION COMMAND...: counts a failure when the command fails.
check() {
    local description=$1
    shift
    checks=$((checks + 1))
    if "$@"; then
        echo "ok: $description"
    else
        failures=$((failures + 1))
        echo "FAIL: $description"
    fi
}

# require DESCRIPTION COMMAND...: like check, but ends the test on failure.
require() {
    local before=$failures
    check "$@"
    if [ "$failures" -ne "$before" ]; then
        echo "$test_name: cannot go on"
        exit 1
    fi
}

finish() {
    echo "$test_name: $((checks - failures)) of $checks checks passed"
    [ "$failures" -eq 0 ]
    exit
}

# run DIR NAME COMMAND...: runs the command in DIR; its standard output,
# standard error and exit code go to $work/NAME.out, .err and .rc.
run() {
    local dir=$1 name=$2
    shift 2
    (cd "$dir" && "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null)
    echo $? >"$work/$name.rc"
}

# Helpers for check.
installed() { command -v "$1" >/dev/null; }
same_bytes() { cmp "$1" "$2"; }
differ() { ! cmp -s "$1" "$2"; }
equal() { [ "$1" = "$2" ] || { echo "  expected: $2"; echo "  got:      $1"; return 1; }; }
holds_line() { grep -qxF -e "$2" "$1" || { echo "  no line '$2' in $1"; return 1; }; }
holds_text() { grep -qF -e "$2" "$1" || { echo "  '$2' not in $1"; return 1; }; }
# The file's text with every line ending in CR LF.
with_crlf() { sed 's/\r$//; s/$/\r/' "$1"; }
# Every file below a folder, relative and sorted.
files_below() { (cd "$1" && find . -type f | sed 's#^\./##' | LC_ALL=C sort); }

# The rewrite's outcome, compared with a reference run: the same exit code,
# console bytes and rewritten file, and a rewrite that really happened.
# same_rewrite NAME REFERENCE-NAME RESULT-FILE REFERENCE-FILE ORIGINAL-FILE
same_rewrite() {
    local name=$1 reference=$2 result=$3 expected=$4 original=$5
    check "$name: exit code as the reference run's" equal "$(cat "$work/$name.rc")" "$(cat "$work/$reference.rc")"
    check "$name: console output as the reference run's" same_bytes "$work/$name.out" "$work/$reference.out"
    check "$name: rewritten source as the reference run's" same_bytes "$result" "$expected"
    check "$name: exit code 0" equal "$(cat "$work/$name.rc")" 0
    check "$name: the source was rewritten" differ "$result" "$original"
    check "$name: modules were added" grep -qE $'^Added [1-9][0-9]* vorrels to your Hotbasic application\r$' "$work/$name.out"
    check "$name: include blocks were inserted" holds_text "$result" '$include "Vorrel\'
}
