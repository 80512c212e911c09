#!/usr/bin/env bash
# The Windows ZIP: it holds exactly vorrel.exe, the example library as
# inc/Vorrel, README.txt, LICENSE.txt and the example project, each the file
# it should be; and vorrel.exe unzipped into a fresh folder, run under wine
# from the project's own folder, finds the library beside it and rewrites the
# example exactly as the native program does on a copy.
#
# usage: zip_test.sh WINE ZIP BUILT-VORREL-EXE NATIVE-VORREL SOURCE-DIR
source "$(dirname "$0")/lib.sh"
wine=$1 zip=$2 built_exe=$3 native=$4 source=$5
library=$source/examples/inc/Vorrel
project=$source/examples/project

require "the ZIP exists: $zip (cmake --build build/mingw --target package makes it)" test -f "$zip"
require "unzip is installed" installed unzip

# --- Its entries
{
    echo vorrel.exe
    echo README.txt
    echo LICENSE.txt
    files_below "$library" | sed 's#^#inc/Vorrel/#'
    files_below "$project" | sed 's#^#example/#'
} | LC_ALL=C sort >"$work/entries.expected"
unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort >"$work/entries"
check "the ZIP holds exactly the expected files" diff "$work/entries.expected" "$work/entries"
check "the ZIP passes unzip's own test" unzip -tqq "$zip"

# --- The unzipped files
unzipped=$work/unzipped
require "the ZIP unzips into a fresh folder" unzip -q "$zip" -d "$unzipped"
check "vorrel.exe is the program the cross build made" same_bytes "$built_exe" "$unzipped/vorrel.exe"
for file in $(files_below "$library"); do
    check "inc/Vorrel/$file is the example library's" same_bytes "$library/$file" "$unzipped/inc/Vorrel/$file"
done
for file in $(files_below "$project"); do
    check "example/$file is the example project's" same_bytes "$project/$file" "$unzipped/example/$file"
done
check "README.txt is README.md with CR LF line ends" same_bytes <(with_crlf "$source/README.md") "$unzipped/README.txt"
check "LICENSE.txt is LICENSE with CR LF line ends" same_bytes <(with_crlf "$source/LICENSE") "$unzipped/LICENSE.txt"
check "LICENSE.txt is the MIT license of Brannox" holds_text "$unzipped/LICENSE.txt" "Copyright (c) 2026 Brannox"

# --- The unzipped program on the example, against the native program on a copy
reference=$work/native
mkdir -p "$reference/inc" "$reference/example"
cp "$native" "$reference/vorrel"
cp -R "$library" "$reference/inc/Vorrel"
cp -R "$project/." "$reference/example/"
run "$reference/example" native "$reference/vorrel" Report.bas
run "$unzipped/example" windows "$wine" "$unzipped/vorrel.exe" Report.bas
same_rewrite windows native "$unzipped/example/Report.bas" "$reference/example/Report.bas" "$project/Report.bas"
check "the run left no other file in the project folder" equal "$(files_below "$unzipped/example" | tr '\n' ' ')" \
    "$(files_below "$project" | tr '\n' ' ')"
check "the run changed nothing in the library" diff -r "$library" "$unzipped/inc/Vorrel"
check "the native reference run found the library too" grep -q '^Added ' "$work/native.out"

finish
