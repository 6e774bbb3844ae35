#!/usr/bin/env bash
# Builds the launcher and runs it on a demo medium under Wine.
#
#   tools/demo.sh [none|older|same]
#
#   none   no installed copy: confirm, then the new installer starts (default)
#   older  an installed Korvane 1.10: the upgrade question, the staged silent run
#   same   an installed Korvane 2.00: the uninstall question, the maintenance program
#
# With a display (DISPLAY set) the windows appear there and you answer them; the
# demo extsetup.exe shows a box saying which installer it stands for. Without a
# display it runs under Xvfb, a robot answers, and screenshots are saved under
# build/demo/screenshots. Installs what is missing first (as root).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
usage() {
  cat <<'TXT'
usage: tools/demo.sh [none|older|same]

Builds the launcher and runs it on a demo medium under Wine.
  none   no installed copy: confirm, then the new installer starts (default)
  older  an installed Korvane 1.10: the upgrade question, the staged silent run
  same   an installed Korvane 2.00: the uninstall question, the maintenance program
With DISPLAY set the windows appear there and you answer them; without it a robot
answers under Xvfb and the screenshots are saved under build/demo/screenshots.
TXT
}
mode=${1:-none}
case "$mode" in
  none|older|same) ;;
  -h|--help) usage; exit 0 ;;
  *) usage >&2; exit 2 ;;
esac

echo "demo: checking what is installed"
tools/deps.sh
# The 32-bit launcher as shipped: natively, or under qemu's emulation where the
# kernel cannot run 32-bit programs (tools/deps.sh has set it up).
how=$(tools/winerun --arch) || { echo "demo: 32-bit programs cannot run on this machine" >&2; exit 1; }
[ "$how" = emulated ] && echo "demo: this kernel cannot run 32-bit programs; they run under qemu's user-mode emulation"
echo "demo: building the launcher, the robot and the stand-in installer (preset win)"
mkdir -p build
log=build/demo-build.log
cmake --preset win >"$log" 2>&1 && cmake --build --preset win -j2 --target KorvaneSetup robot standin >>"$log" 2>&1 ||
  { tail -n 30 "$log"; exit 1; }
launcher=build/win/KorvaneSetup.exe
standin=$(find build/win -name standin.exe | head -n 1)
robot=$(find build/win -name robot.exe | head -n 1)

demo=$root/build/demo
export KORVANE_WINEPREFIX=$demo/wineprefix WINEPREFIX=$demo/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$demo"
[ -f "$WINEPREFIX/system.reg" ] || echo "demo: creating the Wine prefix $WINEPREFIX (about 30 s the first time)"
tools/winerun --prepare

if [ -z "${DISPLAY:-}" ]; then
  echo "demo: no display; running under Xvfb with the robot answering"
  rm -rf "$demo/screenshots"; mkdir -p "$demo/screenshots"
  status=0
  (cd "$demo/screenshots" &&
   "$root/tools/with-display" python3 "$root/tests/e2e/runner.py" --launcher "$root/$launcher" \
     --robot "$root/$robot" --standin "$root/$standin" --winerun "$root/tools/winerun" \
     --work "$demo/work" "$root/tools/demo/$mode.json") || status=$?
  echo "demo: screenshots in $demo/screenshots:"
  ls -1 "$demo/screenshots" | sed 's/^/  /'
  echo "demo: what the stand-in installers were started with: $demo/work/$mode/standin.log"
  exit $status
fi

guid=$(sed -n 's/^productCode=//p' res/product.txt)
[ -n "$guid" ] || { echo "demo: res/product.txt names no productCode" >&2; exit 1; }
key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{$guid}"
maint_win="C:\\Program Files (x86)\\InstallShield Installation Information\\{$guid}"
maint="$WINEPREFIX/drive_c/Program Files (x86)/InstallShield Installation Information/{$guid}"
medium=$demo/medium
echo "demo: laying out the medium in $medium"
rm -rf "$medium"; mkdir -p "$medium"
cp "$launcher" "$medium/KorvaneSetup.exe"
cp "$standin" "$medium/extsetup.exe"
cp tools/medium/v1uninst100.iss "$medium/v1uninst100.iss"
sed -e "s/@PRODUCT_CODE@/$guid/" -e "s/@PRODUCT_NAME@/Korvane/" tools/medium/setup.ini.in >"$medium/setup.ini"

# An earlier demo may have left the key; when none did, the delete fails, which is fine.
tools/winerun reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
rm -rf "$maint"
if [ "$mode" != none ]; then
  version=1.10; [ "$mode" = same ] && version=2.00
  echo "demo: seeding an installed Korvane $version (uninstall entry and maintenance folder)"
  mkdir -p "$maint"
  cp "$standin" "$maint/setup.exe"; cp "$standin" "$maint/extsetup.exe"
  tools/winerun reg add "$key" /v DisplayName /d Korvane /f /reg:32 >/dev/null
  tools/winerun reg add "$key" /v DisplayVersion /d "$version" /f /reg:32 >/dev/null
  tools/winerun reg add "$key" /v UninstallString /d "\"$maint_win\\setup.exe\" -runfromtemp -l0x0409 -removeonly" /f /reg:32 >/dev/null
fi
echo "demo: starting KorvaneSetup.exe on $DISPLAY"
(cd "$medium" && "$root/tools/winerun" KorvaneSetup.exe)
wineserver -w
echo "demo: the launcher has ended"
