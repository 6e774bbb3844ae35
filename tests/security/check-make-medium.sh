#!/usr/bin/env bash
# The medium command refuses bad input before it writes anything: a product code
# other than the launcher's, a product name over 260 bytes, missing files.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=$(mktemp -d)/medium
failures=0
refuse() {
  local what=$1; shift
  if message=$("$root/tools/make-medium.sh" --out "$out" "$@" 2>&1); then
    echo "FAIL $what: accepted"; failures=$((failures + 1))
  elif [ -e "$out" ]; then
    echo "FAIL $what: wrote $out"; failures=$((failures + 1))
  elif ! grep -q 'nothing was written' <<<"$message"; then
    echo "FAIL $what: unclear message: $message"; failures=$((failures + 1))
  else
    echo "ok   $what: $message"
  fi
}
refuse "another product code" --product-code 3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C14
refuse "lower-case product code" --product-code 3f1b7c2a-9d4e-4b6a-8c21-5e0d7a9b4c13
refuse "product name of 261 bytes" --product-name "$(printf 'n%.0s' $(seq 261))"
refuse "empty product name" --product-name ""
refuse "missing installer" --installer /nonexistent/extsetup.exe
refuse "missing response file" --response /nonexistent/v1uninst100.iss
rm -rf "$(dirname "$out")"
[ "$failures" -eq 0 ]
