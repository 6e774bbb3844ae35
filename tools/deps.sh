#!/usr/bin/env bash
# Installs what the build, the tests and the demo need from Debian's archive, when
# it is missing: the i386 architecture (for 32-bit Wine), MinGW-w64, Wine with
# wine32 and wine64, Xvfb, CMake, GoogleTest's sources, ImageMagick, Python 3 and
# clang with its sanitizer and fuzzer runtime, clang-tidy and clang-format, NSIS (the real installer engine the
# end-to-end scenarios build), the locale sources (a Japanese locale is compiled
# for the code-page-932 scenarios), and the medium's tools: zip, unzip, xorriso,
# openssl and osslsigncode. Must run as root when anything is
# missing; prints what it does. Then, on a kernel that cannot run 32-bit
# programs, sets up qemu's emulation of them (tools/i386-emulation), so that the
# 32-bit launcher as shipped runs under 32-bit Wine on every machine.
#
# An archive in the middle of a sync or out of reach is tried again for about two
# minutes; where then only an update suite of the release (security, updates,
# backports) fails, the packages are installed without it, and it says so; else
# it stops and says which index or package failed (tools/apt-archive.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

packages=(cmake make g++ python3 mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          wine wine64 wine32:i386 xvfb x11-utils imagemagick googletest clang
          libclang-rt-14-dev clang-tidy clang-format zip fonts-dejavu-core fonts-wine locales xz-utils nsis
          unzip xorriso openssl osslsigncode)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: every package needed is installed"
else
  if [ "$(id -u)" -ne 0 ]; then
    echo "deps: missing ${missing[*]}; run this as root (or: sudo $0)" >&2
    exit 1
  fi
  echo "deps: installing ${missing[*]}"
  # The architecture goes out again when this run added it and nothing came of it,
  # so that a failed run leaves apt as it found it.
  added_i386=""
  give_up() {
    if [ -n "$added_i386" ]; then
      if dpkg --remove-architecture i386 2>/dev/null; then
        echo "deps: took the i386 architecture out again" >&2
      else
        echo "deps: kept the i386 architecture: packages of it are installed now" >&2
      fi
    fi
    exit 1
  }
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "deps: adding the i386 architecture (for 32-bit Wine)"
    dpkg --add-architecture i386
    added_i386=1
  fi
  archive_who=deps
  . "$here/apt-archive.sh"
  archive_update || give_up
  archive_install --no-install-recommends "${missing[@]}" || give_up
  if [ ${#archive_left_out[@]} -gt 0 ]; then
    echo "deps: done, without ${archive_left_out[*]} (see above)"
  else
    echo "deps: done"
  fi
fi
"$here/i386-emulation" ensure
