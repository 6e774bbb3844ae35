#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for the
# given number of seconds (default 15), two at a time, from its seed corpus in
# tests/fuzz/corpus. Build logs go to build/logs/fuzz-configure.log and
# fuzz-build.log.
# For a longer run of one target: build/fuzz/tests/fuzz/fuzz_text -max_total_time=3600 \
#   build/fuzz/tests/fuzz/corpus-text tests/fuzz/corpus/text
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-15}
# In a fresh clone there is no build folder yet.
mkdir -p build/logs
cmake --preset fuzz -DKORVANE_FUZZ_SECONDS="$seconds" >build/logs/fuzz-configure.log 2>&1 &&
  cmake --build --preset fuzz -j2 >build/logs/fuzz-build.log 2>&1 || { tail -n 30 build/logs/fuzz-*.log; exit 1; }
(cd build/fuzz && ctest -j2 --output-on-failure)
status=$?
for log in build/fuzz/Testing/Temporary/LastTest.log; do
  grep -E '^[0-9]+/[0-9]+ Test|number_of_executed_units' "$log" | sed 's/^/  /'
done
exit $status
