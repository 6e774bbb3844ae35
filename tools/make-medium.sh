#!/usr/bin/env bash
# Lays out a ready installation medium folder and a zip of it:
#   KorvaneSetup.exe, setup.ini, extsetup.exe, v1uninst100.iss
#
#   tools/make-medium.sh [--installer PATH] [--response PATH] [--product-name NAME]
#                        [--product-code GUID] [--out DIR]
#
# --installer and --response are the product's own extsetup.exe and silent-uninstall
# response file; without them the demo stand-ins are used, and the output says so.
# The product code must be the one the launcher knows; the product name is at most
# 260 characters. Bad input is refused before anything is written.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

installer="" response="" name="Korvane" code="" out="$root/build/medium"
while [ $# -gt 0 ]; do
  case "$1" in
    --installer) installer=$2; shift 2 ;;
    --response) response=$2; shift 2 ;;
    --product-name) name=$2; shift 2 ;;
    --product-code) code=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "make-medium: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done

fail() { echo "make-medium: $*; nothing was written" >&2; exit 1; }

# The launcher's product code, from the one place the launcher itself takes it.
known=$(sed -n 's/.*knownProductTable\[\] = {"\([0-9A-F-]*\)"}.*/\1/p' core/Texts.h)
[ -n "$known" ] || fail "cannot read the product code from core/Texts.h"
code=${code:-$known}
[ "$code" = "$known" ] || fail "product code '$code' is not the one the launcher knows ($known)"
[ -n "$name" ] || fail "the product name is empty"
bytes=$(LC_ALL=C; printf %s "$name" | wc -c)
[ "$bytes" -le 260 ] || fail "the product name is $bytes bytes long; at most 260 fit"
case "$name" in *$'\n'*|*$'\r'*) fail "the product name holds a line break" ;; esac
[ -z "$installer" ] || [ -f "$installer" ] || fail "installer '$installer' does not exist"
[ -z "$response" ] || [ -f "$response" ] || fail "response file '$response' does not exist"
case "$out" in /|"$root"|"$HOME") fail "refusing to use '$out' as the output folder" ;; esac

echo "make-medium: building the release launcher"
cmake --workflow --preset release >build-medium.log 2>&1 || { tail -n 30 build-medium.log; fail "the release build failed"; }
rm -f build-medium.log
if [ -z "$installer" ]; then
  echo "make-medium: building the demo stand-in installer"
  cmake --preset win >/dev/null && cmake --build --preset win --target standin >/dev/null ||
    fail "the stand-in build failed"
  installer=build/win/tools/standin.exe
  [ -f "$installer" ] || installer=$(find build/win -name standin.exe | head -n 1)
  echo "make-medium: NOTE extsetup.exe is the demo stand-in, not the product's installer"
fi
if [ -z "$response" ]; then
  response=tools/medium/v1uninst100.iss
  echo "make-medium: NOTE v1uninst100.iss is the demo response file"
fi

rm -rf "$out"
mkdir -p "$out/Korvane"
cp build/release/KorvaneSetup.exe "$out/Korvane/KorvaneSetup.exe"
cp "$installer" "$out/Korvane/extsetup.exe"
cp "$response" "$out/Korvane/v1uninst100.iss"
sed -e "s/@PRODUCT_CODE@/$code/" -e "s|@PRODUCT_NAME@|$(printf '%s' "$name" | sed 's/[|&\\]/\\&/g')|" \
    tools/medium/setup.ini.in | sed 's/$/\r/' >"$out/Korvane/setup.ini"
(cd "$out" && rm -f Korvane.zip && TZ=UTC zip -q -X -r Korvane.zip Korvane)
echo "make-medium: medium folder $out/Korvane"
(cd "$out/Korvane" && sha256sum KorvaneSetup.exe extsetup.exe v1uninst100.iss setup.ini | sed 's/^/  /')
echo "make-medium: zip $out/Korvane.zip"
