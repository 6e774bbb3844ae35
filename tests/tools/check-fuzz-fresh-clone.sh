#!/usr/bin/env bash
# tools/fuzz.sh in a fresh clone, where no build folder exists yet, gets as far
# as configuring the fuzz build. A cmake that records its call and fails stands
# in for the build, so that the check costs nothing.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/clone/tools" "$work/bin"
cp "$root/tools/fuzz.sh" "$work/clone/tools/"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$work/calls" >"$work/bin/cmake"
chmod +x "$work/bin/cmake"
output=$(PATH="$work/bin:$PATH" "$work/clone/tools/fuzz.sh" 1 2>&1)
if grep -q -- '--preset fuzz' "$work/calls" 2>/dev/null; then
  echo "check-fuzz-fresh-clone: tools/fuzz.sh configures the fuzz build in a clone without build/"
else
  echo "check-fuzz-fresh-clone: tools/fuzz.sh never reached the fuzz build in a clone without build/:" >&2
  sed 's/^/  /' <<<"$output" >&2
  exit 1
fi
