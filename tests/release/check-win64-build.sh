#!/usr/bin/env bash
# The sources built for 64-bit Windows (preset win64) must keep compiling and
# linking without a warning. Nothing runs that build: the launcher ships as a
# 32-bit program, and the tests run that one (natively or under emulation).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
mkdir -p build/logs
log=build/logs/win64-build.log
if ! { cmake --preset win64 && nice cmake --build --preset win64 -j1; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "check-win64-build: the 64-bit build failed (log: $log)" >&2
  exit 1
fi
if grep -n -E '(warning|error):' "$log"; then
  echo "check-win64-build: the 64-bit build is not warning-free (log: $log)" >&2
  exit 1
fi
echo "check-win64-build: the 64-bit build compiles and links without a warning"
