#!/usr/bin/env bash
# Builds and runs every test: the native unit tests under ASan and UBSan, the
# Windows tests under Wine, the end-to-end scenarios that drive the real
# KorvaneSetup.exe, the checks of the release, and short fuzzing runs. Installs
# what is missing first (as root). Ends with one summary line:
# "tests: N passed, M failed".
#
# The Wine tests run in parallel (KORVANE_WINE_WORKERS, default 5), each worker
# with a Wine prefix of its own, copied from one prepared prefix, and each test
# with an Xvfb display of its own; the native tests and the fuzzing run beside
# them. Logs go to build/logs.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
started=$(date +%s)

say() { printf '\n== %s\n' "$*"; }

say "installing what is missing"
tools/deps.sh || exit 1

export KORVANE_WINEPREFIX=${KORVANE_WINEPREFIX:-$root/build/wineprefix}
export WINEPREFIX=$KORVANE_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
workers=${KORVANE_WINE_WORKERS:-5}

wine_pid=""
cleanup() {
  [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null
  tools/wine-workers stop
  for prefix in "$KORVANE_WINEPREFIX" "$KORVANE_WINEPREFIX"-*; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  done
  return 0
}
trap cleanup EXIT

passed=0
failed=0
count() {  # adds up one ctest log's "N% tests passed, M tests failed out of T"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    echo "test-all: $1 has no CTest summary: that run did not finish" >&2
    failed=$((failed + 1)); return
  fi
  local f t
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + t - f)); failed=$((failed + f))
}
mkdir -p build/logs

# The Windows tests and the scenarios run the 32-bit build, as shipped, on every
# machine: natively where the kernel runs 32-bit programs, else under qemu's
# emulation, which tools/deps.sh has just set up. Never a 64-bit stand-in for it.
if ! how=$(tools/winerun --arch); then
  echo "test-all: 32-bit programs cannot run on this machine, so the launcher as shipped cannot be tested here" >&2
  failed=$((failed + 1))
  echo "tests: $passed passed, $failed failed"
  exit 1
fi
[ "$how" = emulated ] && say "this kernel cannot run 32-bit programs: they run under qemu's user-mode emulation"

# A new Wine prefix is made while the Windows build runs.
say "Wine prefix $WINEPREFIX"
[ -f "$WINEPREFIX/system.reg" ] || echo "creating it (about 15 s the first time), beside the build"
(tools/winerun --prepare && wineserver -w) >build/logs/wine-prefix.log 2>&1 &
prefix_pid=$!

# Where 32-bit programs are emulated, the robot that plays the user in the
# scenarios is the 64-bit build of it: it polls the launcher's windows all
# through every run, and runs natively so. Built beside the 32-bit build.
robot_args=(-DKORVANE_E2E_ROBOT=)
robot_pid=""
if [ "$how" = emulated ]; then
  (cmake --preset win64 && cmake --build --preset win64 --target robot) >build/logs/win64-robot.log 2>&1 &
  robot_pid=$!
  robot_args=(-DKORVANE_E2E_ROBOT="$root/build/win64/tools/robot.exe")
fi

say "Windows build for the tests (preset win)"
if cmake --preset win "${robot_args[@]}" >build/logs/win-configure.log 2>&1 &&
   cmake --build --preset win -j2 >build/logs/win-build.log 2>&1; then
  ls -l build/win/KorvaneSetup.exe
  built=1
else
  tail -n 40 build/logs/win-*.log; failed=$((failed + 1))
  built=""
fi
if ! wait "$prefix_pid"; then
  cat build/logs/wine-prefix.log; failed=$((failed + 1))
  built=""
fi
if [ -n "$robot_pid" ] && ! wait "$robot_pid"; then
  tail -n 30 build/logs/win64-robot.log; failed=$((failed + 1))
  built=""
fi

if [ -n "$built" ]; then
  say "$workers Wine workers"
  # Workers start from a fresh copy of the prepared prefix, each with a display and
  # a Wine session that stay up for the whole run.
  rm -rf "$KORVANE_WINEPREFIX"-[0-9]*
  tools/wine-workers start "$workers" || exit 1
  spec=build/logs/wine-workers.json
  python3 - "$workers" >"$spec" <<'PY'
import json, sys
slots = [{"id": str(i), "slots": 1} for i in range(1, int(sys.argv[1]) + 1)]
print(json.dumps({"version": {"major": 1, "minor": 0}, "local": [{"wineprefix": slots}]}))
PY
  say "Windows tests, end-to-end scenarios and release checks (in the background)"
  (cd build/win && env -u DISPLAY ctest -j "$workers" --resource-spec-file "$root/$spec" \
     --output-on-failure >"$root/build/logs/win-test.log" 2>&1) &
  wine_pid=$!
fi

# The native builds, tests and fuzzing fill the time the Wine tests spend waiting;
# at a lower priority, so that they do not stretch the Wine tests' timings.
say "native unit tests (ASan + UBSan)"
if nice cmake --preset native >build/logs/native-configure.log 2>&1 &&
   nice cmake --build --preset native -j2 >build/logs/native-build.log 2>&1; then
  (cd build/native && nice ctest --output-on-failure) >build/logs/native-test.log 2>&1
  tail -n 4 build/logs/native-test.log
  count build/logs/native-test.log
else
  tail -n 30 build/logs/native-*.log; failed=$((failed + 1))
fi

say "fuzzing (bounded)"
nice tools/fuzz.sh "${KORVANE_FUZZ_SECONDS:-15}" >build/logs/fuzz.log 2>&1
tail -n 12 build/logs/fuzz.log
count build/logs/fuzz.log

if [ -n "$wine_pid" ]; then
  say "waiting for the Windows tests"
  wait "$wine_pid"
  wine_pid=""
  tail -n 30 build/logs/win-test.log
  count build/logs/win-test.log
fi

echo
echo "test-all: $(( $(date +%s) - started )) s"
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
