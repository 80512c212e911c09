#!/usr/bin/env bash
# Runs vorrel on inputs of extreme size and prints, for each, the time it
# took, its peak memory and whether the result is right. Not run by CI: a
# person runs it (needs about 6 GB of free memory and 3 GB of disk for the
# 1 GB source).
#   bench/scale.sh [VORREL]   (default build/native/vorrel)
set -eu  # no pipefail: yes(1) ends by SIGPIPE when head has enough
tool=$(realpath "${1:-build/native/vorrel}")
work=$(mktemp -d "${TMPDIR:-/tmp}/vorrel-scale.XXXXXX")
trap 'rm -rf "$work"' EXIT

# case NAME EXPECTED-LINE: runs the tool on $work/case/prog.bas, then checks
# that it printed EXPECTED-LINE and that prog.bas equals $work/expected.
case_() {
    local name=$1 line=$2
    cp "$tool" "$work/case/vorrel"
    local start=$SECONDS
    (cd "$work/case" && /usr/bin/time -f %M -o "$work/peak" ./vorrel prog.bas >"$work/out" 2>&1 </dev/null) || true
    local verdict=right
    grep -qxF "$line"$'\r' "$work/out" || verdict="WRONG: $(head -c 300 "$work/out")"
    [ ! -f "$work/expected" ] || cmp -s "$work/case/prog.bas" "$work/expected" || verdict="WRONG bytes"
    printf '%-34s %4d s  %7d MiB peak  %s\n' "$name" $((SECONDS - start)) $(($(tail -n 1 "$work/peak") / 1024)) "$verdict"
    rm -rf "$work/case" "$work/expected"
}
fresh() {
    mkdir -p "$work/case/inc/Vorrel"
    printf 'SUB Widget(n)\r\n' >"$work/case/inc/Vorrel/Widget.inc"
    printf 'X;Start;Interval\r\n' >"$work/case/inc/Vorrel/O_Timer.inc"
}
block() { printf '$IFNDEF %s\r\n$DEFINE %s\r\n$include "%s\\%s"\r\n$ENDIF\r\n' "$1" "$1" "${3:-Vorrel}" "$2"; }
repeat() { yes "$1" | head -n "$2" | tr -d '\n'; }  # $1, $2 times, on one line
added() { echo "Added $1 vorrels to your Hotbasic application"; }

# A line of 10 MB: a declaration, then members and calls without a line break.
fresh
{ printf 'DIM t as timer: '; repeat 'x = widget(1): t.start ' 455903; } >"$work/case/prog.bas"
{ block WIDGET Widget.inc; block TIMER O_Timer.inc; printf 'DIM t AS TIMER: '
  repeat 'x = WIDGET(1): t.Start ' 455903; } >"$work/expected"
case_ "a 10 MB line" "$(added 2)"

# 10,000 modules, every one used.
fresh
for i in $(seq -w 0 9999); do printf "' M%s\r\n" "$i" >"$work/case/inc/Vorrel/M$i.inc"; done
for i in $(seq -w 0 9999); do printf 'x = m%s(1)\r\n' "$i"; done >"$work/case/prog.bas"
case_ "10,000 modules" "$(added 10000)"

# A module of 50 MB and a member name of 1 MB.
fresh
{ printf 'X;Open;%s\r\n' "$(repeat q 1048576)"; yes "' filler"$'\r' | head -n 5000000; } >"$work/case/inc/Vorrel/O_Big.inc"
printf 'DIM g as big\r\ng.OPEN = g.%s\r\n' "$(repeat Q 1048576)" >"$work/case/prog.bas"
{ block BIG O_Big.inc; printf 'DIM g AS BIG\r\ng.Open = g.%s\r\n' "$(repeat q 1048576)"; } >"$work/expected"
case_ "a 50 MB module, a 1 MB member" "$(added 1)"

# A settings file of 100 MB whose first line names the library.
fresh
mkdir -p "$work/case/Lib" && mv "$work/case/inc/Vorrel/Widget.inc" "$work/case/Lib/"
{ printf 'Lib\r\n'; yes "not read: the rest of a large settings file"$'\r' | head -n 2200000; } >"$work/case/VorrelSettings.ini"
printf 'w = widget(1)\r\n' >"$work/case/prog.bas"
{ block WIDGET Widget.inc Lib; printf 'w = WIDGET(1)\r\n'; } >"$work/expected"
case_ "a 100 MB settings file" "$(added 1)"

# A 1 GB source: one declaration, then calls and members.
fresh
{ printf 'DIM t as timer\r\n'; yes $'w = widget(1): t.start\r' | head -n 44739243; } >"$work/case/prog.bas"
{ block WIDGET Widget.inc; block TIMER O_Timer.inc; printf 'DIM t AS TIMER\r\n'
  yes $'w = WIDGET(1): t.Start\r' | head -n 44739243; } >"$work/expected"
case_ "a 1 GB source" "$(added 2)"
