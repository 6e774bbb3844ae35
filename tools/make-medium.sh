#!/usr/bin/env bash
# Makes a Korvane installation medium: the folder, its zip, optionally an ISO
# image, each with a SHA256SUMS list and a build record that names the commit it
# was made from, the launcher optionally Authenticode-signed.
# Every input is checked before anything is written; a medium that could not be
# finished (a failed build, a signature that does not verify, with the
# verifier's reason) is removed again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/medium/common.sh"
source "$root/tools/medium/signing.sh"
source "$root/tools/medium/pack.sh"
source "$root/tools/medium/record.sh"

usage() {
  cat <<'EOF'
Usage: tools/make-medium.sh [options]

Lays out OUT/Korvane/ (KorvaneSetup.exe, setup.ini, extsetup.exe, v1uninst100.iss,
the build record BUILDINFO.txt and SHA256SUMS) and OUT/Korvane.zip, built from
this checkout's commit. BUILDINFO.txt names the commit, SOURCE_DATE_EPOCH and the
versions of the tools that shaped the bytes.

  --installer PATH           the product's extsetup.exe (default: the demo stand-in)
  --response PATH            its silent-uninstall response file v1uninst100.iss
                             (default: the demo response file)
  --product-name NAME        "Product" of setup.ini, at most 260 bytes (default: Korvane)
  --product-code GUID        "ProductGUID" of setup.ini; must be the launcher's own,
                             as res/product.txt gives it (the default)
  --out DIR                  where the medium goes (default: build/medium)
  --iso                      also write OUT/Korvane.iso (ISO 9660 with Joliet names)
  --iso-label LABEL          its volume label: A-Z, 0-9 and _, at most 32 (default: KORVANE)
  --allow-uncommitted        make the medium although the checkout has changes not
                             committed (refused otherwise); the build record says so

Authenticode signing (SHA-256, with osslsigncode):
  --sign-pfx FILE            the code-signing certificate with its private key (PKCS#12)
  --sign-password-file FILE  the file that holds its password, on one line; the
                             password is never put on a command line or in a log
  --timestamp-url URL        an RFC 3161 time-stamp server to countersign with
                             (osslsigncode -ts; the older Authenticode form is not offered)
  --sign-installer           also sign a supplied --installer (the demo stand-in is
                             always signed)
  --ca CERT.pem              the root the signatures must chain to (default: the
                             certificate file's own chain and the system's roots)

With SOURCE_DATE_EPOCH set, the launcher's PE timestamp, every file time, the
signing time, the zip and the ISO are fixed by it: two runs give the same bytes.
Check the result as a customer would with tools/verify-medium.sh.
EOF
}

installer="" response="" name="Korvane" code="" out="$root/build/medium"
iso=0 iso_label=KORVANE sign_pfx="" sign_password_file="" timestamp_url=""
sign_installer=0 trust_ca="" allow_uncommitted=0
value() {  # value OPTION ARGUMENT-COUNT: an option that takes a value has one
  [ "$2" -ge 2 ] || { echo "make-medium: $1 needs a value (see --help)" >&2; exit 2; }
}
while [ $# -gt 0 ]; do
  case "$1" in
    --installer) value "$1" $#; installer=$2; shift 2 ;;
    --response) value "$1" $#; response=$2; shift 2 ;;
    --product-name) value "$1" $#; name=$2; shift 2 ;;
    --product-code) value "$1" $#; code=$2; shift 2 ;;
    --out) value "$1" $#; out=$2; shift 2 ;;
    --iso) iso=1; shift ;;
    --iso-label) value "$1" $#; iso_label=$2; shift 2 ;;
    --sign-pfx) value "$1" $#; sign_pfx=$2; shift 2 ;;
    --sign-password-file) value "$1" $#; sign_password_file=$2; shift 2 ;;
    --timestamp-url) value "$1" $#; timestamp_url=$2; shift 2 ;;
    --sign-installer) sign_installer=1; shift ;;
    --ca) value "$1" $#; trust_ca=$2; shift 2 ;;
    --allow-uncommitted) allow_uncommitted=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "make-medium: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done

fail() { echo "make-medium: $*; nothing was written" >&2; exit 1; }

# Paths are the user's, relative to where the command was given; the work below
# runs in the checkout.
for path in installer response out sign_pfx sign_password_file trust_ca; do
  [ -z "${!path}" ] || printf -v "$path" '%s' "$(realpath -m -- "${!path}")"
done
cd "$root"

known=$(product_value productCode 2>&1) || fail "$known"
code=${code:-$known}
[ "$code" = "$known" ] || fail "product code '$code' is not the one the launcher knows ($known)"
[ -n "$name" ] || fail "the product name is empty"
bytes=$(LC_ALL=C; printf %s "$name" | wc -c)
[ "$bytes" -le 260 ] || fail "the product name is $bytes bytes long; at most 260 fit"
case "$name" in *$'\n'*|*$'\r'*) fail "the product name holds a line break" ;; esac
[ -z "$installer" ] || [ -f "$installer" ] || fail "installer '$installer' does not exist"
[ -z "$response" ] || [ -f "$response" ] || fail "response file '$response' does not exist"
out_folder=${out%/}/
case "$root/" in "$out_folder"*) fail "refusing to use '$out', which holds the checkout, as the output folder" ;; esac
# The medium replaces an earlier one in the output folder, and nothing else.
if [ -e "$out" ]; then
  [ -d "$out" ] || fail "the output folder '$out' is a file"
  others=$(find "$out" -mindepth 1 -maxdepth 1 ! -name Korvane ! -name Korvane.zip ! -name Korvane.iso -printf '%f\n' |
           LC_ALL=C sort | head -n 5 | oneline)
  [ -z "$others" ] || fail "the output folder '$out' holds other things ($others): give a new or empty folder"
fi
[[ "${SOURCE_DATE_EPOCH-0}" =~ ^[0-9]+$ ]] ||
  fail "SOURCE_DATE_EPOCH is '$SOURCE_DATE_EPOCH': it must be a whole number of seconds since 1970"
command -v zip >/dev/null || fail "zip is missing: install it (apt-get install zip, or tools/deps.sh as root)"
if [ "$iso" -eq 1 ]; then
  [[ "$iso_label" =~ ^[A-Z0-9_]{1,32}$ ]] ||
    fail "the volume label '$iso_label' may hold only A-Z, 0-9 and _, at most 32 of them"
  command -v xorriso >/dev/null ||
    fail "--iso needs xorriso, which is missing: install it (apt-get install xorriso, or tools/deps.sh as root)"
fi
if [ -z "$sign_pfx" ]; then
  [ -z "$sign_password_file$timestamp_url$trust_ca" ] && [ "$sign_installer" -eq 0 ] ||
    fail "--sign-password-file, --timestamp-url, --sign-installer and --ca need --sign-pfx"
else
  [ -n "$sign_password_file" ] || fail "--sign-pfx needs --sign-password-file FILE, the file that holds its password"
  check_signing_inputs
fi
check_source

log_dir=$root/build/logs
mkdir -p "$log_dir"
[ -z "$sign_pfx" ] || ensure_osslsigncode

echo "make-medium: building the release launcher${SOURCE_DATE_EPOCH:+ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)}"
cmake --workflow --preset release >"$log_dir/make-medium-release.log" 2>&1 ||
  { tail -n 30 "$log_dir/make-medium-release.log"; fail "the release build failed (log: $log_dir/make-medium-release.log)"; }
standin=0
if [ -z "$installer" ]; then
  echo "make-medium: building the demo stand-in installer"
  { cmake --preset win && cmake --build --preset win --target standin; } >"$log_dir/make-medium-standin.log" 2>&1 ||
    fail "the stand-in build failed (log: $log_dir/make-medium-standin.log)"
  installer=build/win/tools/standin.exe
  [ -f "$installer" ] || installer=$(find build/win -name standin.exe | head -n 1)
  standin=1
  echo "make-medium: NOTE extsetup.exe is the demo stand-in, not the product's installer"
fi
if [ -z "$response" ]; then
  response=tools/medium/v1uninst100.iss
  echo "make-medium: NOTE v1uninst100.iss is the demo response file"
fi

# From here on a failure removes what was written: no half-made medium is left.
work=$(mktemp -d)
writing=1
remove_medium() {
  rm -rf "$out/Korvane" "$out/Korvane.zip" "$out/Korvane.iso"
  # The folder itself goes only if that left it empty: what else it holds is the user's.
  rmdir "$out" 2>/dev/null || true
}
on_exit() {
  local status=$?
  rm -rf "$work"
  if [ "$status" -ne 0 ] && [ "${writing:-0}" -eq 1 ]; then remove_medium; fi
}
trap on_exit EXIT
fail() { echo "make-medium: $*; no medium was left in $out" >&2; exit 1; }

remove_medium
medium=$out/Korvane
mkdir -p "$medium"
cp build/release/KorvaneSetup.exe "$medium/KorvaneSetup.exe"
cp "$installer" "$medium/extsetup.exe"
cp "$response" "$medium/v1uninst100.iss"
sed -e "s/@PRODUCT_CODE@/$code/" -e "s|@PRODUCT_NAME@|$(printf '%s' "$name" | sed 's/[|&\\]/\\&/g')|" \
    tools/medium/setup.ini.in | sed 's/$/\r/' >"$medium/setup.ini"
write_record "$medium/$record_name"

if [ -n "$sign_pfx" ]; then
  : >"$log_dir/make-medium-sign.log"
  write_trust
  echo "make-medium: signing KorvaneSetup.exe as $signer${timestamp_url:+, time-stamped by $timestamp_url}"
  sign_pe "$medium/KorvaneSetup.exe"
  if [ "$standin" -eq 1 ] || [ "$sign_installer" -eq 1 ]; then
    echo "make-medium: signing extsetup.exe"
    sign_pe "$medium/extsetup.exe"
  else
    echo "make-medium: NOTE extsetup.exe is left as supplied (--sign-installer signs it too)"
  fi
fi

write_sums "$medium"
normalise "$out"
pack_zip "$out" Korvane "$out/Korvane.zip"
[ "$iso" -eq 0 ] || pack_iso "$medium" "$out/Korvane.iso" "$iso_label" >"$log_dir/make-medium-iso.log" 2>&1 ||
  fail "writing the ISO image failed (log: $log_dir/make-medium-iso.log)"
writing=0

echo "make-medium: medium folder $medium"
sed 's/^/  /' "$medium/SHA256SUMS"
echo "make-medium: zip $out/Korvane.zip"
[ "$iso" -eq 0 ] || echo "make-medium: ISO $out/Korvane.iso (volume $iso_label)"
(cd "$out" && sha256sum Korvane.zip $([ "$iso" -eq 0 ] || echo Korvane.iso) | sed 's/^/  /')
echo "make-medium: made from commit $source_commit$([ "$source_tree" = clean ] || echo ", with changes not committed"); build record $medium/$record_name"
