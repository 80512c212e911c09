#!/usr/bin/env bash
# The release packages, one part per ctest test:
#   zip WINE ZIP EXE SOURCE-DIR: the ZIP holds exactly its files, and its program rewrites the example under wine
#   version EXE OTHER-EXE VERSION MANIFEST: the file properties and manifest, and none in the other program
#   install CMAKE BUILD-DIR SOURCE-DIR: cmake --install, and the program by its bare name on the example
#   man PAGE VERSION: the man page renders without a warning and names the version
set -uo pipefail
failures=0
check() { if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The example rewritten in folder $1 by the command that follows: 7 modules, blocks inserted.
rewrites() {
    (cd "$1" && "${@:2}" Report.bas >"$work/out" </dev/null)
    grep -q $'^Added 7 vorrels to your Hotbasic application\r$' "$work/out" && grep -q '^$IFNDEF STOPWATCH' "$1/Report.bas"
}
case $1 in
zip)
    wine=$2 zip=$3 exe=$4 source=$5
    files=$( (echo vorrel.exe README.txt LICENSE.txt | tr ' ' '\n'; cd "$source/examples" && find inc -type f &&
        cd project && find . -type f | sed 's#^\.#example#') | LC_ALL=C sort)
    check "the ZIP holds exactly its files" test "$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort)" = "$files"
    unzip -q "$zip" -d "$work/zip"
    check "vorrel.exe is the cross build's" cmp "$exe" "$work/zip/vorrel.exe"
    check "README.txt is the user text with CR LF" cmp <(sed 's/$/\r/' "$source/docs/user.txt") "$work/zip/README.txt"
    check "LICENSE.txt is the license with CR LF" cmp <(sed 's/$/\r/' "$source/LICENSE") "$work/zip/LICENSE.txt"
    check "the unzipped program finds its library" rewrites "$work/zip/example" "$wine" ../vorrel.exe
    ;;
version)
    exe=$2 other=$3 version=$4 manifest=$5
    # The fixed file version: the signature, then major.minor as two 16-bit numbers, minor first.
    fixed=$(printf ' bd 04 ef fe 00 00 01 00 %02x 00 %02x 00' "${version#*.}" "${version%%.*}")
    check "fixed version $version" test "$(wrestool -x --raw -t16 "$exe" | od -An -tx1 -j40 -N12)" = "$fixed"
    strings=$(wrestool -x --raw -t16 "$exe" | strings -el -n 2 | tr '\n' '|')
    for pair in "CompanyName|Brannox" "FileVersion|$version" "LegalCopyright|Copyright 2026 Brannox" \
        "OriginalFilename|vorrel.exe" "ProductName|vorrel" "ProductVersion|$version"; do
        check "property $pair" grep -qF "|$pair|" <<<"|$strings"
    done
    check "the manifest is the build's" cmp <(wrestool -x --raw -t24 "$exe") "$manifest"
    check "the manifest asks for no elevation" grep -q 'level="asInvoker"' "$manifest"
    check "other programs carry neither" test -z "$(wrestool -l "$other" 2>/dev/null)"
    ;;
install)
    cmake=$2 build=$3 source=$4 prefix=$work/prefix
    check "cmake --install" "$cmake" --install "$build" --prefix "$prefix"
    check "the man page" cmp "$build/packaging/vorrel.1" "$prefix/share/man/man1/vorrel.1"
    check "the examples" diff -r "$source/examples" "$prefix/share/doc/vorrel/examples"
    check "the license" cmp "$source/LICENSE" "$prefix/share/doc/vorrel/LICENSE"
    mkdir "$work/project" && cp -R "$source/examples/inc" "$source/examples/project/Report.bas" "$work/project"
    check "by its bare name it looks in the current folder" rewrites "$work/project" env PATH="$prefix/bin:$PATH" vorrel
    ;;
man)
    page=$2 version=$3
    check "man renders the page without a warning" \
        test -z "$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" 2>&1 >"$work/man")"
    check "the footer names version $version" grep -qE "^vorrel $version +2026" <(sed 's/.\x08//g' "$work/man")
    ;;
esac
echo "$1: $failures failed"
[ "$failures" -eq 0 ]
