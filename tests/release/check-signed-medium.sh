#!/usr/bin/env bash
# A signed medium, made twice with SOURCE_DATE_EPOCH and a throw-away code-signing
# certificate: both runs give the same zip and ISO, its build record names the
# commit and the tools, the password shows nowhere, the checker passes the
# folder, the zip and the ISO, and it names the check that catches each fault
# planted in a copy. A signature that does not chain to the root given is
# refused with the verifier's reason and leaves no medium.
#
# The media are made with --allow-uncommitted, so that this runs in a checkout
# with work in progress too; the record says then so.
#
#   check-signed-medium.sh INSTALLER.exe
#
# INSTALLER.exe stands in for the product's installer, supplied with --installer.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
installer=${1:-}
[ -f "$installer" ] || { echo "FAIL: give the installer to put on the medium (got '$installer')"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
pass() { echo "ok   $*"; }
flunk() { echo "FAIL $*"; failures=$((failures + 1)); }

"$root/tests/release/make-test-certs.sh" "$work/certs" || { echo "FAIL: cannot make the test certificates"; exit 1; }
certs=$work/certs
password=$(tr -d '\n' <"$certs/password")
export SOURCE_DATE_EPOCH=1700000000

# Every openssl and osslsigncode that the tools start writes its arguments down
# first, so that a password on a command line (readable by every user through
# /proc/<pid>/cmdline) would show.
mkdir "$work/shims"
for tool in openssl osslsigncode; do
  real=$(command -v "$tool") || { echo "FAIL: $tool is missing (tools/deps.sh installs it)"; exit 1; }
  printf '#!/bin/sh\nprintf "%%s\\n" "$0 $*" >>"%s"\nexec "%s" "$@"\n' "$work/argv.log" "$real" >"$work/shims/$tool"
  chmod +x "$work/shims/$tool"
done
export PATH="$work/shims:$PATH"

# The tree's state as the build record must give it.
tree=clean
[ -z "$(git -C "$root" status --porcelain)" ] || tree="changes not committed"
# medium RUN ARGUMENTS...: a signed medium in $work/RUN.
medium() {
  local run=$1; shift
  if "$root/tools/make-medium.sh" --out "$work/$run" --installer "$installer" --allow-uncommitted \
       --sign-pfx "$certs/signer.pfx" --sign-password-file "$certs/password" "$@" >"$work/$run.out" 2>&1; then
    pass "$run signed medium made"
  else
    flunk "$run signed medium: make-medium failed:"; cat "$work/$run.out"
  fi
}
medium first --iso --sign-installer
medium second --iso --sign-installer
medium third
osslsigncode verify -in "$work/first/Korvane/extsetup.exe" -CAfile "$certs/signer.pem" >/dev/null 2>&1 &&
  pass "--sign-installer signs the supplied installer" || flunk "--sign-installer left the installer without a valid signature"
cmp -s "$installer" "$work/third/Korvane/extsetup.exe" &&
  pass "without --sign-installer the supplied installer is left as it was" ||
  flunk "without --sign-installer the supplied installer was changed"
for file in Korvane.zip Korvane.iso; do
  cmp -s "$work/first/$file" "$work/second/$file" && pass "two runs give the same $file" ||
    flunk "two runs give different $file"
done
# The build record names the commit and the tree's state, SOURCE_DATE_EPOCH and a
# version of each tool that shaped the bytes, and SHA256SUMS lists it.
record=$(tr -d '\r' <"$work/first/Korvane/BUILDINFO.txt" 2>/dev/null)
missing=()
for line in "commit=$(git -C "$root" rev-parse HEAD)$" "tree=$tree" "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH$" \
            'mingw-w64-gcc=.*[0-9]' 'mingw-w64-binutils=.*[0-9]' 'mingw-w64-runtime=[0-9]' \
            'osslsigncode=.*[0-9]' 'zip=.*[0-9]' 'xorriso=.*[0-9]'; do
  grep -q "^$line" <<<"$record" || missing+=("$line")
done
grep -q ' BUILDINFO.txt$' "$work/first/Korvane/SHA256SUMS" || missing+=("its line in SHA256SUMS")
[ ${#missing[@]} -eq 0 ] && pass "the build record names $(sed -n 's/^commit=//p' <<<"$record"), the tree, the time and the tools" ||
  { flunk "the build record lacks ${missing[*]}:"; echo "$record"; }
# A signature that does not chain to the --ca root: refused with the verifier's
# own reason, which the signing log holds too, and no medium is left behind.
log=$root/build/logs/make-medium-sign.log
if "$root/tools/make-medium.sh" --out "$work/unchained" --installer "$installer" --allow-uncommitted --sign-pfx "$certs/other.pfx" \
     --sign-password-file "$certs/password" --ca "$certs/signer.pem" >"$work/unchained.out" 2>&1; then
  flunk "a signature that does not chain to --ca was accepted"
else
  reason=$(sed -n 's/.*KorvaneSetup.exe does not verify (\(.*\)); see .*/\1/p' "$work/unchained.out")
  if [ -e "$work/unchained" ]; then
    flunk "a signature that does not chain to --ca left $(ls -A "$work/unchained" | tr '\n' ' ')behind"
  elif [ -z "$reason" ]; then
    flunk "a signature that does not chain to --ca was refused without the verifier's reason:"; cat "$work/unchained.out"
  elif ! grep -qF -- "$reason" "$log" || ! grep -q 'self-signed certificate' "$log"; then
    flunk "the signing log lacks the verifier's report ('$reason'):"; cat "$log"
  else
    pass "a signature that does not chain to --ca is refused: $reason"
  fi
fi
grep -q osslsigncode "$work/argv.log" || flunk "no osslsigncode was seen: the argument check saw nothing"
if grep -lF -- "$password" "$work"/*.out "$work/argv.log" "$root"/build/logs/make-medium-*.log 2>/dev/null; then
  flunk "the password shows in the files above"
else
  pass "the password is on no command line, in no output and in no log"
fi

# verify MEDIUM WANTED-VERDICT [--ca ...]: WANTED-VERDICT is "PASS" or the failed
# checks the verdict must list, exactly.
verify() {
  local medium=$1 wanted=$2; shift 2
  local output verdict
  output=$("$root/tools/verify-medium.sh" "$medium" "$@" 2>&1)
  local status=$?
  verdict=$(tail -n 1 <<<"$output")
  if [ "$wanted" = PASS ] && [ "$status" -eq 0 ] && [[ "$verdict" == "verify-medium: PASS"* ]]; then
    pass "${medium#"$work"/}: $verdict"
  elif [ "$wanted" != PASS ] && [ "$status" -ne 0 ] && [[ "$verdict" == *"checks failed: $wanted" ]]; then
    pass "${medium#"$work"/}: caught by $wanted: $(grep -m 1 '^FAIL' <<<"$output")"
  else
    flunk "${medium#"$work"/}: wanted $wanted, got status $status:"; echo "$output"
  fi
}
ca=(--ca "$certs/signer.pem")
verify "$work/first/Korvane" PASS "${ca[@]}"
verify "$work/first/Korvane.zip" PASS "${ca[@]}"
verify "$work/first/Korvane.iso" PASS "${ca[@]}"

# Each fault goes into a fresh copy of the folder. Faults that a new SHA256SUMS
# would hide from the sums check get one, so that the check meant is the one
# that catches them.
resum() { (cd "$1" && rm SHA256SUMS && for f in *; do sha256sum "$f"; done >"$work/sums" && mv "$work/sums" SHA256SUMS); }
copy() { rm -rf "$work/$1"; cp -r "$work/first/Korvane" "$work/$1"; echo "$work/$1"; }
poke() { printf '\x5a' | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
sign() { osslsigncode sign -pkcs12 "$certs/$1.pfx" -readpass "$certs/password" -h sha256 -in "$2" -out "$2.signed" >/dev/null &&
         mv "$2.signed" "$2"; }

m=$(copy tampered); poke "$m/extsetup.exe" 4096
verify "$m" sums "${ca[@]}"
m=$(copy unlisted); echo extra >"$m/autorun.inf"
verify "$m" sums "${ca[@]}"
m=$(copy product-code); sed -i 's/5E0D7A9B4C13/5E0D7A9B4C14/' "$m/setup.ini"; resum "$m"
verify "$m" setup.ini "${ca[@]}"
m=$(copy unsigned); cp "$root/build/release/KorvaneSetup.exe" "$m/KorvaneSetup.exe"; resum "$m"
verify "$m" signature "${ca[@]}"
verify "$m" PASS
m=$(copy other-signer); cp "$root/build/release/KorvaneSetup.exe" "$m/KorvaneSetup.exe"
sign other "$m/KorvaneSetup.exe"; resum "$m"
verify "$m" signature "${ca[@]}"
# Changed in its DOS stub, where nothing else looks, and signed again properly.
m=$(copy rebuilt); cp "$root/build/release/KorvaneSetup.exe" "$m/KorvaneSetup.exe"; poke "$m/KorvaneSetup.exe" 100
sign signer "$m/KorvaneSetup.exe"; resum "$m"
verify "$m" build "${ca[@]}"
m=$(copy no-installer); rm "$m/extsetup.exe"; resum "$m"
verify "$m" files "${ca[@]}"
# Checked from a checkout of another commit than the one the record names.
m=$(copy other-commit); sed -i "s/^commit=.*/commit=$(printf '0%.0s' $(seq 40))\r/" "$m/BUILDINFO.txt"; resum "$m"
verify "$m" build "${ca[@]}"
head -c 100000 "$work/first/Korvane.zip" >"$work/truncated.zip"
verify "$work/truncated.zip" open "${ca[@]}"
head -c 100000 "$work/first/Korvane.iso" >"$work/truncated.iso"
verify "$work/truncated.iso" open "${ca[@]}"
# A link in a zip or an ISO could point the checks at any file of the checking
# machine: refused before unpacking.
m=$(copy linked); ln -s /etc/passwd "$m/setup.ini.lnk"
(cd "$work" && zip -q -y -r linked.zip linked)
verify "$work/linked.zip" open "${ca[@]}"
xorriso -no_rc -as mkisofs -quiet -R -J -o "$work/linked.iso" "$m" >/dev/null 2>&1
verify "$work/linked.iso" open "${ca[@]}"
[ "$failures" -eq 0 ]
