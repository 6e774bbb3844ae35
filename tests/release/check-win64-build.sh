#!/usr/bin/env bash
# The launcher and the test tools built for 64-bit Windows (preset win64) must
# keep compiling and linking without a warning. Nothing runs that build: the
# launcher ships as a 32-bit program, and the tests run that one (natively or
# under emulation). The Windows tests (GoogleTest) are left out: they would
# double the check's cost (about 80 s of CPU instead of 30) for test code only.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
mkdir -p build/logs
log=build/logs/win64-build.log
if ! { cmake --preset win64 && nice cmake --build --preset win64 -j1 --target KorvaneSetup robot standin planted; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "check-win64-build: the 64-bit build failed (log: $log)" >&2
  exit 1
fi
if grep -n -E '(warning|error):' "$log"; then
  echo "check-win64-build: the 64-bit build is not warning-free (log: $log)" >&2
  exit 1
fi
echo "check-win64-build: the 64-bit launcher and tools compile and link without a warning"
