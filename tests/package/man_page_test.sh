#!/usr/bin/env bash
# The man page renders without a warning, with man (man -l) and with groff,
# whichever is there (exit code 77, skipped, when neither is), and tells what
# a user needs: the lookup of the library folder, the console lines, the exit
# codes and an example.
#
# usage: man_page_test.sh PAGE VERSION
source "$(dirname "$0")/lib.sh"
page=$1 version=$2

if ! command -v man >/dev/null && ! command -v groff >/dev/null; then
    echo "neither man nor groff is installed"
    exit 77
fi
require "the man page exists: $page" test -f "$page"

rendered=""
if command -v man >/dev/null; then
    (MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=w -E UTF-8 -l "$page" >"$work/man.out" 2>"$work/man.err")
    check "man -l renders the page" equal "$?" 0
    check "man -l gives no warning" equal "$(cat "$work/man.err")" ""
    # The text without overstriking.
    sed 's/.\x08//g' "$work/man.out" >"$work/man.txt"
    rendered=$work/man.txt
fi
if command -v groff >/dev/null; then
    (LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>"$work/groff.err")
    check "groff renders the page" equal "$?" 0
    check "groff gives no warning" equal "$(cat "$work/groff.err")" ""
    if [ -z "$rendered" ]; then
        LC_ALL=C.UTF-8 groff -man -Tutf8 -P-cbou "$page" >"$work/groff.txt" 2>/dev/null
        rendered=$work/groff.txt
    fi
fi
if command -v lexgrog >/dev/null; then
    check "the NAME line is one whatis entry" \
        equal "$(lexgrog "$page")" "$page: \"vorrel - add the Vorrel modules a HotBasic source uses\""
fi

# What the page tells (each check one piece of text in the rendered page;
# the running text is compared with its blanks and line breaks folded).
tr -s ' \n' '  ' <"$rendered" >"$work/folded.txt"
for heading in NAME SYNOPSIS DESCRIPTION "LIBRARY FOLDER" OUTPUT "EXIT STATUS" EXAMPLES COPYRIGHT; do
    check "section $heading" holds_line "$rendered" "$heading"
done
check "the version in the footer" grep -qE "^vorrel $version +2026 +VORREL\(1\)$" "$rendered"
for text in "VorrelSettings.ini" "inc/Vorrel" "hotinc/Vorrel" "/usr/local/bin/inc/Vorrel" \
    "No settings found, no inc directory" "HotBasic Vorrel $version by Brannox started" \
    "vorrels to your Hotbasic application" 'Source file not found' 'Could not save' 'Insufficient memory' \
    '$include "Vorrel\O_Timer.inc"' '$ vorrel Report.bas' 'CR LF'; do
    check "the page tells: $text" holds_text "$work/folded.txt" "$text"
done
for code in 0 1 3; do
    check "exit code $code is explained" grep -qE "^ +$code +[A-Z]" "$rendered"
done

finish
