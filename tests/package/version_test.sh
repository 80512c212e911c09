#!/usr/bin/env bash
# vorrel.exe's Windows file properties and manifest, read back under wine by
# a small Windows program that asks Windows for them (GetFileVersionInfoA,
# VerQueryValueA, the resource functions): version VERSION in both the fixed
# numbers and the strings, product vorrel, the copyright, the original file
# name, and the manifest asking for no elevation (asInvoker). The other
# programs of the cross build (the test programs) carry neither.
#
# usage: version_test.sh WINE PROBE-EXE VORREL-EXE VERSION MANIFEST OTHER-EXE...
source "$(dirname "$0")/lib.sh"
wine=$1 probe=$2 vorrel=$3 version=$4 manifest=$5
shift 5

# probe NAME EXE [--manifest]: the probe's report on EXE, run from EXE's folder.
probe() {
    local name=$1 exe=$2
    shift 2
    run "$(dirname "$exe")" "$name" "$wine" "$probe" "$(basename "$exe")" "$@"
}

require "the probe exists: $probe" test -f "$probe"
require "vorrel.exe exists: $vorrel" test -f "$vorrel"

# Windows shows four numbers: 2.1 is 2.1.0.0.
IFS=. read -r -a numbers <<<"$version"
while [ "${#numbers[@]}" -lt 4 ]; do numbers+=(0); done
quad=$(IFS=.; echo "${numbers[*]}")

# --- The version resource
cat >"$work/version.expected" <<EXPECTED
signature=feef04bd
fixed.FileVersion=$quad
fixed.ProductVersion=$quad
fixed.FileFlags=00000000
fixed.FileOS=00040004
fixed.FileType=00000001
translation=040904b0
CompanyName=Brannox
FileDescription=HotBasic Vorrel optimizer
FileVersion=$version
InternalName=vorrel
LegalCopyright=Copyright 2026 Brannox
OriginalFilename=vorrel.exe
ProductName=vorrel
ProductVersion=$version
manifests=1
EXPECTED
probe version "$vorrel"
check "the probe read vorrel.exe's version and manifest" equal "$(cat "$work/version.rc")" 0
check "vorrel.exe's file properties" diff "$work/version.expected" "$work/version.out"

# --- The manifest
probe manifest "$vorrel" --manifest
check "the probe read manifest 1" equal "$(cat "$work/manifest.rc")" 0
check "the embedded manifest is the build's manifest" same_bytes "$manifest" "$work/manifest.out"
check "the manifest asks for no elevation" \
    holds_text "$work/manifest.out" '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'
check "the manifest asks for one execution level" equal "$(grep -c requestedExecutionLevel "$work/manifest.out")" 1
check "the manifest names vorrel $quad" \
    holds_text "$work/manifest.out" "name=\"Brannox.vorrel\" version=\"$quad\" processorArchitecture=\"amd64\""

# --- The version the program itself shows
run "$(dirname "$vorrel")" about "$wine" "$vorrel"
check "vorrel.exe's banner shows the same version" \
    holds_line "$work/about.out" $'HotBasic Vorrel '"$version"$' by Brannox started\r'
check "vorrel.exe's about text shows the same version" holds_line "$work/about.out" $' Version '"$version"$'\r'

# --- Only vorrel.exe carries them
for other in "$@"; do
    name=$(basename "$other" .exe)
    probe "$name" "$other"
    check "$name.exe has no version resource and no manifest" \
        equal "$(cat "$work/$name.out")" $'version=none\nmanifests=none'
done

finish
