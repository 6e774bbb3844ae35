#!/usr/bin/env bash
# The medium command refuses bad input before it writes anything, and says what
# to do: a product code other than the launcher's, a product name over 260
# bytes, missing files, and unusable signing material (a missing or unreadable
# certificate or password file, a wrong password, a certificate that is not for
# code signing or comes without its key), an ISO without xorriso, a checkout
# with changes not committed. The password never shows in what the command
# prints. With --allow-uncommitted such a checkout gives a medium whose build
# record says so.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/medium
certs=$work/certs
"$root/tests/release/make-test-certs.sh" "$certs" || { echo "FAIL: cannot make the test certificates"; exit 1; }
password=$(tr -d '\n' <"$certs/password")
sign=(--sign-pfx "$certs/signer.pfx" --sign-password-file "$certs/password")

failures=0
# refuse WHAT EXPECTED [VAR=VALUE ...] -- ARGUMENTS: the command (make_medium)
# must fail, write nothing, say so, and give a reason that contains the
# expected words.
make_medium=$root/tools/make-medium.sh
refuse() {
  local what=$1 expect=$2; shift 2
  local environment=()
  while [ "$1" != "--" ]; do environment+=("$1"); shift; done
  shift
  if message=$(env "${environment[@]}" "$make_medium" --out "$out" "$@" 2>&1); then
    echo "FAIL $what: accepted"; failures=$((failures + 1))
  elif [ -e "$out" ]; then
    echo "FAIL $what: wrote $out"; failures=$((failures + 1))
  elif ! grep -q 'nothing was written' <<<"$message" || ! grep -qi -- "$expect" <<<"$message"; then
    echo "FAIL $what: unclear message (wanted '$expect'): $message"; failures=$((failures + 1))
  elif grep -qF -- "$password" <<<"$message"; then
    echo "FAIL $what: the message shows the password"; failures=$((failures + 1))
  else
    echo "ok   $what: $message"
  fi
}

printf '' >"$work/empty"
printf 'first\nsecond\n' >"$work/two-lines"
printf 'not the password\n' >"$work/wrong"
printf 'just text\n' >"$work/not-a.pfx"
# A PATH with every program of this one but xorriso.
mkdir "$work/no-xorriso"
IFS=: read -ra dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  # A name already linked from an earlier folder stays: ln skips it with a complaint.
  [ ! -d "$dir" ] || ln -s -t "$work/no-xorriso" "$dir"/* 2>/dev/null
done
rm -f "$work/no-xorriso/xorriso"

refuse "another product code" "not the one the launcher knows" -- --product-code 3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C14
refuse "lower-case product code" "not the one the launcher knows" -- --product-code 3f1b7c2a-9d4e-4b6a-8c21-5e0d7a9b4c13
refuse "product name of 261 bytes" "at most 260" -- --product-name "$(printf 'n%.0s' $(seq 261))"
refuse "empty product name" "empty" -- --product-name ""
refuse "missing installer" "does not exist" -- --installer /nonexistent/extsetup.exe
refuse "missing response file" "does not exist" -- --response /nonexistent/v1uninst100.iss
refuse "missing certificate file" "cannot read the certificate" -- --sign-pfx /nonexistent/signer.pfx --sign-password-file "$certs/password"
refuse "unreadable certificate file (a folder)" "cannot read the certificate" -- --sign-pfx "$certs" --sign-password-file "$certs/password"
refuse "missing password file" "cannot read the password file" -- --sign-pfx "$certs/signer.pfx" --sign-password-file /nonexistent/password
refuse "empty password file" "is empty" -- --sign-pfx "$certs/signer.pfx" --sign-password-file "$work/empty"
refuse "password file of two lines" "on one line" -- --sign-pfx "$certs/signer.pfx" --sign-password-file "$work/two-lines"
refuse "wrong password" "does not open" -- --sign-pfx "$certs/signer.pfx" --sign-password-file "$work/wrong"
refuse "certificate without its key" "no private key" -- --sign-pfx "$certs/nokey.pfx" --sign-password-file "$certs/password"
refuse "web-server certificate" "not for code signing" -- --sign-pfx "$certs/tls.pfx" --sign-password-file "$certs/password"
refuse "not a PKCS#12 file" "not a PKCS#12 file" -- --sign-pfx "$work/not-a.pfx" --sign-password-file "$certs/password"
refuse "certificate without a password file" "needs --sign-password-file" -- --sign-pfx "$certs/signer.pfx"
refuse "password file without a certificate" "need --sign-pfx" -- --sign-password-file "$certs/password"
refuse "unreadable CA certificate" "--ca" -- "${sign[@]}" --ca "$work/empty"
refuse "ISO without xorriso" "install it" PATH="$work/no-xorriso" -- --iso
refuse "ISO volume label with spaces" "volume label" -- --iso --iso-label "KORVANE 2"
refuse "SOURCE_DATE_EPOCH not a number" "whole number" SOURCE_DATE_EPOCH=yesterday -- "${sign[@]}"

# An output folder that holds anything but an earlier medium is left alone.
mkdir -p "$work/occupied/Korvane"
echo "someone's notes" >"$work/occupied/notes.txt"
if message=$("$root/tools/make-medium.sh" --out "$work/occupied" 2>&1); then
  echo "FAIL occupied output folder: accepted"; failures=$((failures + 1))
elif [ ! -f "$work/occupied/notes.txt" ] || [ ! -d "$work/occupied/Korvane" ]; then
  echo "FAIL occupied output folder: its contents were removed"; failures=$((failures + 1))
elif ! grep -q 'holds other things (notes.txt' <<<"$message"; then
  echo "FAIL occupied output folder: unclear message: $message"; failures=$((failures + 1))
else
  echo "ok   occupied output folder: $message"
fi
refuse "the checkout as the output folder" "holds the checkout" -- --out "$root"
refuse "the root as the output folder" "holds the checkout" -- --out /

# A checkout of its own, the files of this one committed, then a new file beside them.
tree=$work/checkout
mkdir "$tree"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | tar --null --ignore-failed-read -T - -cf -) |
  tar -C "$tree" -xf -
git -C "$tree" init -q && git -C "$tree" add -A &&
  git -C "$tree" -c user.name=check -c user.email=check@example.invalid -c commit.gpgsign=false commit -q -m check ||
  { echo "FAIL: cannot make a checkout to change"; exit 1; }
echo "someone's notes" >"$tree/notes.txt"
make_medium=$tree/tools/make-medium.sh
refuse "a checkout with changes not committed" "changes not committed in" -- --installer "$work/empty"
if ! message=$("$make_medium" --out "$work/uncommitted" --installer "$work/empty" --allow-uncommitted 2>&1); then
  echo "FAIL --allow-uncommitted: no medium: $message"; failures=$((failures + 1))
elif ! tr -d '\r' <"$work/uncommitted/Korvane/BUILDINFO.txt" | grep -qx "commit=$(git -C "$tree" rev-parse HEAD)" ||
     ! tr -d '\r' <"$work/uncommitted/Korvane/BUILDINFO.txt" | grep -q '^tree=changes not committed'; then
  echo "FAIL --allow-uncommitted: the build record does not say so:"; cat "$work/uncommitted/Korvane/BUILDINFO.txt"
  failures=$((failures + 1))
else
  echo "ok   --allow-uncommitted: the build record says $(tr -d '\r' <"$work/uncommitted/Korvane/BUILDINFO.txt" | grep '^tree=')"
fi
[ "$failures" -eq 0 ]
