#!/usr/bin/env bash
# Builds the release launcher twice, from scratch, in two different folders, and
# checks that both exes are byte-identical. Optional argument: the work folder.
# A shipped medium is checked against this source, signature and all, by
# tools/verify-medium.sh, which builds the release with the shipped launcher's
# own PE timestamp and compares it less its signature.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${1:-$root/build/reproducible}
rm -rf "$work"
mkdir -p "$work"
for copy in first second-build; do
  cmake -S "$root" -B "$work/$copy" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=OFF >"$work/$copy.log" 2>&1
  cmake --build "$work/$copy" -j2 >>"$work/$copy.log" 2>&1
done
sha256sum "$work/first/KorvaneSetup.exe" "$work/second-build/KorvaneSetup.exe"
cmp "$work/first/KorvaneSetup.exe" "$work/second-build/KorvaneSetup.exe"
echo "reproducible: both builds are byte-identical"
