# Sourced by make-medium.sh: the medium's build record, BUILDINFO.txt, which
# names the commit the medium was made from and the tools that shaped its bytes,
# so that anyone can check that commit out and rebuild the launcher
# (tools/verify-medium.sh reads it). It holds no time but SOURCE_DATE_EPOCH and
# no path: two runs of one commit with one set of tools write the same record.
#
# Uses from the caller: fail, oneline, root, allow_uncommitted, sign_pfx, iso.

record_name=BUILDINFO.txt

# check_source: the commit of the checkout (source_commit) and the state of its
# tree (source_tree). Changes that are not in the commit (edited, staged or new
# files that git does not ignore: a new source file changes the build as surely
# as an edited one) are refused unless --allow-uncommitted asks for them.
check_source() {
  local changes count
  command -v git >/dev/null ||
    fail "git is missing, and the medium must name the commit it is made from: install it (apt-get install git)"
  source_commit=$(git -C "$root" rev-parse --verify -q HEAD 2>/dev/null) ||
    fail "$root is not a git checkout with a commit, and the medium must name the commit it is made from"
  # No optional locks: a status taken while another command works in the checkout
  # must not leave it an index.lock.
  changes=$(git -C "$root" --no-optional-locks status --porcelain 2>&1) ||
    fail "git status failed in $root ($(oneline <<<"$changes"))"
  source_tree=clean
  [ -n "$changes" ] || return 0
  count=$(grep -c . <<<"$changes")
  count="$count file$([ "$count" -eq 1 ] || echo s): $(head -n 3 <<<"$changes" | oneline)$([ "$count" -le 3 ] || echo " ...")"
  [ "$allow_uncommitted" -eq 1 ] ||
    fail "the checkout holds changes not committed in ${source_commit:0:12} ($count), so no checkout of a commit could rebuild the medium: commit them, or give --allow-uncommitted to make a medium whose build record says so"
  source_tree="changes not committed (--allow-uncommitted): the commit alone may not rebuild this medium"
  echo "make-medium: NOTE the checkout holds changes not committed in ${source_commit:0:12} ($count); the build record says so"
}

# first_line PATTERN COMMAND...: the first line the command prints that
# matches the sed expression PATTERN, as PATTERN rewrites it; "unknown" when none.
first_line() {
  local pattern=$1 line
  shift
  line=$("$@" 2>&1 | sed -n "$pattern" | head -n 1)
  printf '%s' "${line:-unknown}"
}

# package_of FILE: " [PACKAGE VERSION]", the Debian package that holds FILE,
# where dpkg knows it; nothing elsewhere.
package_of() {
  local owner version
  command -v dpkg-query >/dev/null || return 0
  owner=$(dpkg -S "$(readlink -f "$1")" 2>/dev/null | head -n 1 | cut -d: -f1)
  [ -n "$owner" ] || return 0
  version=$(dpkg-query -W -f='${Version}\n' "$owner" 2>/dev/null | head -n 1)
  printf ' [%s %s]' "$owner" "$version"
}

# write_record FILE: the record, in Windows line ends (it is read on the medium
# too), for the release build in build/release.
write_record() {
  local cache=$root/build/release/CMakeCache.txt cxx ld runtime tool
  cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$cache" 2>/dev/null)
  ld=$(sed -n 's/^CMAKE_LINKER:[A-Z]*=//p' "$cache" 2>/dev/null)
  [ -x "$cxx" ] && [ -x "$ld" ] || fail "the release build's $cache names no compiler or linker"
  runtime=$(printf '#include <_mingw.h>\n__MINGW64_VERSION_STR\n' | "$cxx" -x c++ -E -P - 2>/dev/null | tail -n 1 |
            tr -d '" ')
  {
    echo "# The build record of this Korvane medium: the source and the tools it was made from."
    echo "# To check the medium: git checkout the commit below, then run tools/verify-medium.sh on it."
    echo "commit=$source_commit"
    echo "tree=$source_tree"
    echo "SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-unset}"
    echo "launcherVersion=$(product_value launcherVersion)"
    echo "mingw-w64-gcc=$(first_line 1p "$cxx" --version)$(package_of "$cxx")"
    echo "mingw-w64-binutils=$(first_line 1p "$ld" --version)$(package_of "$ld")"
    echo "mingw-w64-runtime=${runtime:-unknown}$(package_of "$("$cxx" -print-file-name=crt2.o)")"
    tool=$(command -v cmake)
    echo "cmake=$(first_line 1p "$tool" --version)$(package_of "$tool")"
    if [ -n "$sign_pfx" ]; then
      tool=$(command -v osslsigncode)
      echo "osslsigncode=$(first_line 's/, using:$//; 1p' "$tool" --version)$(package_of "$tool")"
    else
      echo "osslsigncode=not used (the launcher is not signed)"
    fi
    tool=$(command -v zip)
    echo "zip=$(first_line 's/^This is \(Zip [^,]*\),.*/\1/p' "$tool" -v)$(package_of "$tool")"
    if [ "$iso" -eq 1 ]; then
      tool=$(command -v xorriso)
      echo "xorriso=$(first_line 's/ : .*//; 1p' "$tool" -no_rc -version)$(package_of "$tool")"
    else
      echo "xorriso=not used (no ISO image)"
    fi
  } | sed 's/$/\r/' >"$1"
}
