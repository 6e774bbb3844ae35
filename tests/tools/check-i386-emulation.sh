#!/usr/bin/env bash
# tools/i386-emulation ensure, on a kernel that runs 32-bit programs itself,
# leaves the machine alone: no registration, no word. The probe's answer and the
# binfmt_misc folder are stand-ins, and the tool runs without root (as nobody
# when this check runs as root), so that a tool that went on to set the
# emulation up could neither install nor register anything here.
set -euo pipefail
tool=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/i386-emulation
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/register"
chmod -R a+rwX "$work"  # writable for nobody too, so that a registration would show
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)

status=0
output=$(env KORVANE_TEST_I386_PROBE=native KORVANE_BINFMT_MISC="$work" "${as_user[@]}" "$tool" ensure 2>&1) ||
  status=$?
fail() {
  echo "check-i386-emulation: $*" >&2
  [ -z "$output" ] || sed 's/^/  /' <<<"$output" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "ensure ended with status $status on a kernel that runs 32-bit programs"
[ ! -s "$work/register" ] || fail "ensure registered a handler: $(cat "$work/register")"
[ -z "$output" ] || fail "ensure set about something on a kernel that runs 32-bit programs"
echo "check-i386-emulation: ensure left a kernel that runs 32-bit programs alone"
