#!/usr/bin/env bash
# tests/tools/check-apt.sh CASE: tools/deps.sh and tools/i386-emulation against
# Debian's archive in a bad hour, played by tests/tools/apt-standin, which comes
# first on PATH as apt-get, apt-cache, dpkg, dpkg-query and id. The tools run
# without root (as nobody when this check runs as root), with no pause between
# tries, so that nothing can reach this machine's apt.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tools=$(cd "$here/../../tools" && pwd)
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "check-apt: /etc/os-release names no release" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/sources"
for name in apt-get apt-cache dpkg dpkg-query id; do ln -s "$here/apt-standin" "$work/bin/$name"; done
: >"$work/calls"
chmod -R a+rwX "$work"
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)

# Each case: the archive's state, the tool, the status it must end with, what its
# output must say, and what it must (+) and must not (-) have done, as the
# stand-in logged it ("updates N": so many apt-get updates).
security=debian-security/dists/$codename-security/main/binary-i386/Packages.xz
case ${1:-} in
deps-retries-a-failed-update)
  archive=retried tool=deps.sh status=0
  says=("apt-get update failed on http://deb.debian.org/$security: File has unexpected size" "trying again in 0 s (try 2 of 4)" "deps: done")
  did=("updates 2" "+apt-get install" "-Dir::Etc::Preferences") ;;
deps-installs-without-an-update-suite-that-keeps-failing)
  archive=left-out tool=deps.sh status=0
  says=("did not serve these files in 4 tries" "$security: File has unexpected size (374820 != 376004). Mirror sync in progress?"
        "no fault of this project" "installing without $codename-security, for every architecture" "apt-get upgrade"
        "deps: done, without $codename-security")
  did=("updates 4" "+apt-get install") ;;
deps-stops-when-the-release-index-keeps-failing)
  archive=release-fails tool=deps.sh status=1
  says=("debian/dists/$codename/main/binary-i386/Packages.xz: File has unexpected size" "no fault of this project"
        "Nothing was installed: try again later" "deps: took the i386 architecture out again")
  did=("updates 4" "-apt-get install" "+dpkg --add-architecture i386" "+dpkg --remove-architecture i386") ;;
deps-names-a-package-it-cannot-install)
  archive=not-installable tool=deps.sh status=1
  says=("cannot install libwine:i386 (Depends: libgnutls30:i386 (>= 3.7.9-2+deb12u3) but it is not installable)"
        "no fault of this project" "try again later" "deps: took the i386 architecture out again")
  did=("updates 1" "+dpkg --remove-architecture i386") ;;
i386-emulation-takes-its-source-out-after-a-failed-update)
  archive=backports-unreachable tool="i386-emulation ensure" status=1
  says=("$codename-backports/InRelease: Could not connect" "no fault of this project"
        "removed the apt source $work/sources/korvane-backports.sources" "could not read $codename-backports")
  did=("updates 4" "+backports listed" "-apt-get install") ;;
*) echo "check-apt: unknown case '${1:-}'" >&2; exit 1 ;;
esac

ended=0
output=$(env PATH="$work/bin:$PATH" KORVANE_TEST_APT=$archive KORVANE_TEST_APT_LOG="$work/calls" \
  HOME="$work" KORVANE_APT_PAUSE_UNIT=0 KORVANE_APT_SOURCES="$work/sources" KORVANE_BINFMT_MISC="$work" \
  KORVANE_TEST_I386_PROBE=$([ "$tool" = deps.sh ] && echo native || echo foreign) \
  "${as_user[@]}" $tools/$tool 2>&1) || ended=$?
fail() {
  echo "check-apt: $1: $2" >&2
  sed 's/^/  | /' <<<"$output" >&2
  sed 's/^/  calls: /' "$work/calls" >&2
  exit 1
}
[ "$ended" -eq "$status" ] || fail "$1" "ended with status $ended, not $status"
for text in "${says[@]}"; do grep -qF -- "$text" <<<"$output" || fail "$1" "never said: $text"; done
# Where it stops, the last word is the tool's own, not apt's.
who=${tool%% *}
[ "$status" -eq 0 ] || [[ $(tail -n 1 <<<"$output") == "${who%.sh}: "* ]] || fail "$1" "ended with someone else's line"
for deed in "${did[@]}"; do
  case $deed in
  "updates "*) [ "$(grep -c '^apt-get update' "$work/calls")" -eq "${deed#updates }" ] || fail "$1" "did not run apt-get update ${deed#updates } times" ;;
  +*) grep -qF -- "${deed#+}" "$work/calls" || fail "$1" "never did: ${deed#+}" ;;
  -*) ! grep -qF -- "${deed#-}" "$work/calls" || fail "$1" "did what it must not: ${deed#-}" ;;
  esac
done
[ ! -e "$work/sources/korvane-backports.sources" ] || fail "$1" "left its apt source behind"
echo "check-apt: $1: as it should"
