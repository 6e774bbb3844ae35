#!/usr/bin/env bash
# Builds and runs every test: the native unit tests under ASan and UBSan, the
# Windows tests under Wine, the end-to-end scenarios that drive the real
# KorvaneSetup.exe, and short fuzzing runs. Installs what is missing first (as
# root). Ends with one summary line: "tests: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '\n== %s\n' "$*"; }

say "installing what is missing"
tools/deps.sh || exit 1

export KORVANE_WINEPREFIX=${KORVANE_WINEPREFIX:-$root/build/wineprefix}
export WINEPREFIX=$KORVANE_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

xvfb_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

passed=0
failed=0
count() {  # adds up one ctest log's "N% tests passed, M tests failed out of T"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  local f t
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + t - f)); failed=$((failed + f))
}
mkdir -p build/logs

say "native unit tests (ASan + UBSan)"
if cmake --preset native >build/logs/native-configure.log 2>&1 &&
   cmake --build --preset native -j2 >build/logs/native-build.log 2>&1; then
  (cd build/native && ctest --output-on-failure) 2>&1 | tee build/logs/native-test.log | tail -n 4
  count build/logs/native-test.log
else
  tail -n 30 build/logs/native-*.log; failed=$((failed + 1))
fi

# The Windows tests run the 32-bit build, as shipped, wherever the machine can run
# 32-bit programs; on a kernel without 32-bit emulation, the same sources built for
# 64-bit Windows, under wine64. The 32-bit release launcher is built either way.
say "release launcher (MinGW-w64 i686)"
if cmake --workflow --preset release >build/logs/release-build.log 2>&1; then
  ls -l build/release/KorvaneSetup.exe
else
  tail -n 30 build/logs/release-build.log; failed=$((failed + 1))
fi
arch=$(tools/winerun --arch) || exit 1
if [ "$arch" = win64 ]; then
  say "this machine cannot run 32-bit programs: the Windows tests run the 64-bit build under wine64"
fi
say "Windows build for the tests (preset $arch)"
if cmake --preset "$arch" >build/logs/win-configure.log 2>&1 &&
   cmake --build --preset "$arch" -j2 >build/logs/win-build.log 2>&1; then
  ls -l "build/$arch/KorvaneSetup.exe"
  if [ -z "${DISPLAY:-}" ]; then
    say "starting Xvfb (no DISPLAY set)"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>build/logs/xvfb.display 2>build/logs/xvfb.log &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -s build/logs/xvfb.display ] && break; sleep 0.1; done
    export DISPLAY=":$(cat build/logs/xvfb.display)"
    echo "Xvfb pid $xvfb_pid on $DISPLAY"
  fi
  say "Wine prefix $WINEPREFIX"
  [ -f "$WINEPREFIX/system.reg" ] || echo "creating it (about 30 s the first time)"
  tools/winerun --prepare
  wineserver -w
  say "Windows tests and end-to-end scenarios under Wine"
  (cd "build/$arch" && ctest --output-on-failure) 2>&1 | tee build/logs/win-test.log | tail -n 25
  count build/logs/win-test.log
else
  tail -n 40 build/logs/win-*.log; failed=$((failed + 1))
fi

if [ -x tools/fuzz.sh ]; then
  say "fuzzing (bounded)"
  tools/fuzz.sh "${KORVANE_FUZZ_SECONDS:-30}" 2>&1 | tee build/logs/fuzz.log | tail -n 12
  count build/logs/fuzz.log
fi

echo
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
