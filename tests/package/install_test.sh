#!/usr/bin/env bash
# The Linux install: `cmake --install` into a fresh prefix puts vorrel in
# bin/, its man page in share/man/man1/ and the README, license and examples
# in share/doc/vorrel/. The installed program, started by its bare name from a
# project folder, finds inc/Vorrel in that folder and rewrites the example as
# the built program does; from a folder without a library it changes nothing;
# started by its full path it looks beside itself (bin/inc/Vorrel).
#
# usage: install_test.sh CMAKE BUILD-DIR BUILT-VORREL SOURCE-DIR
source "$(dirname "$0")/lib.sh"
cmake=$1 build=$2 built=$3 source=$4
library=$source/examples/inc/Vorrel
original=$source/examples/project/Report.bas
prefix=$work/prefix
docs=$prefix/share/doc/vorrel

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
status=$?
[ "$status" -eq 0 ] || cat "$work/install.log"
require "cmake --install puts the build into $prefix" equal "$status" 0

# --- What went where
check "bin/vorrel is installed and executable" test -x "$prefix/bin/vorrel"
check "bin/vorrel is the built program" same_bytes "$built" "$prefix/bin/vorrel"
page=$prefix/share/man/man1/vorrel.1
check "share/man/man1/vorrel.1 is installed" test -f "$page"
check "the man page is the configured one" same_bytes "$build/packaging/vorrel.1" "$page"
check "the man page has every placeholder filled in" bash -c '! grep -n "@[A-Za-z_]*@" "$1"' - "$page"
if installed man; then
    check "man finds the page of the program on PATH" \
        equal "$(env -u MANPATH PATH="$prefix/bin:$PATH" man -w vorrel 2>&1)" "$page"
fi
check "share/doc/vorrel/README.md is the README" same_bytes "$source/README.md" "$docs/README.md"
check "share/doc/vorrel/LICENSE is the license" same_bytes "$source/LICENSE" "$docs/LICENSE"
check "share/doc/vorrel/examples holds the examples" diff -r "$source/examples" "$docs/examples"

# --- The reference: the built program, with the library beside it
reference=$work/reference
mkdir -p "$reference/inc"
cp "$built" "$reference/vorrel"
cp -R "$library" "$reference/inc/Vorrel"
cp "$original" "$reference/Report.bas"
run "$reference" reference "$reference/vorrel" Report.bas

# --- Started by its bare name from a project folder holding inc/Vorrel
project=$work/project
mkdir -p "$project/inc"
cp -R "$docs/examples/inc/Vorrel" "$project/inc/Vorrel"
cp "$docs/examples/project/Report.bas" "$project/Report.bas"
path=$prefix/bin:$PATH
check "the bare name vorrel finds the installed program" \
    equal "$(PATH=$path command -v vorrel)" "$prefix/bin/vorrel"
run "$project" bare env PATH="$path" vorrel Report.bas
same_rewrite bare reference "$project/Report.bas" "$reference/Report.bas" "$original"

# --- Started by its bare name from a folder without a library
empty=$work/empty
mkdir -p "$empty"
cp "$original" "$empty/Report.bas"
touch -d '2001-02-03 04:05:06' "$empty/Report.bas"
run "$empty" nolibrary env PATH="$path" vorrel Report.bas
check "no library: exit code 0" equal "$(cat "$work/nolibrary.rc")" 0
check "no library: says so" holds_line "$work/nolibrary.out" $'No settings found, no inc directory\r'
check "no library: the source keeps its bytes" same_bytes "$original" "$empty/Report.bas"
check "no library: the source keeps its modification time" \
    equal "$(stat -c %Y "$empty/Report.bas")" "$(date -d '2001-02-03 04:05:06' +%s)"

# --- Started by its full path, with the library beside the program
cp -R "$docs/examples/inc" "$prefix/bin/inc"
cp "$original" "$empty/Report.bas"
run "$empty" fullpath "$prefix/bin/vorrel" Report.bas
same_rewrite fullpath reference "$empty/Report.bas" "$reference/Report.bas" "$original"

finish
