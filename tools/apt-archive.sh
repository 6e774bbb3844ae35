# Sourced by tools/deps.sh and tools/i386-emulation: apt-get update and install
# that ride out an ordinary bad hour of Debian's archive (a mirror in the middle of
# a sync, or out of reach for a while) and say plainly what happened where they
# cannot.
#
#   archive_update [SUITE...]  apt-get update, tried again with a growing pause
#                              while it fails. When after the last try only
#                              indexes of the release's update suites failed
#                              (CODENAME-security, -updates, -backports) and none
#                              of the SUITEs given, the install leaves those
#                              suites out, for every architecture, and says so;
#                              any other failure ends with status 1 and a message
#                              that names the index and what to do.
#   archive_install ARGS...    apt-get install -y ARGS, tried again (after a fresh
#                              update) where a download failed or apt was busy;
#                              else status 1 with the package named.
#
# apt never installs from an index that is known to have failed: without its
# suite, amd64 and i386 candidates come from the same lists, and multi-arch
# packages must have one version for both. The caller sets archive_who, the word
# its messages begin with. Four tries at most, 10, 20 and 40 s apart (the pause
# unit is KORVANE_APT_PAUSE_UNIT seconds, 10; the tests set 0): about two
# minutes in all with apt's own time.
archive_unit=${KORVANE_APT_PAUSE_UNIT:-10}
archive_tries=0
archive_required=()
archive_left_out=()

archive_say() { echo "$archive_who: $*"; }
archive_warn() { echo "$archive_who: $*" >&2; }

# Runs apt-get with its output shown as it comes and kept in archive_output.
archive_apt() {
  local - status=0 log
  set -o pipefail
  log=$(mktemp) || return 1
  apt-get "$@" 2>&1 | tee "$log" || status=$?
  archive_output=$(<"$log")
  rm -f "$log"
  return "$status"
}

# The files apt names as not fetched, one "URL: reason" a line.
archive_unfetched() {
  sed -n 's/^[EW]: Failed to fetch \([^ ]*\)  *\(.*\)$/\1: \2/p' <<<"$archive_output" | sed 's/ *\[IP: [^]]*\]$//'
}

# apt's own errors, for a failure that names no file; where it printed none,
# its last line, so that the message never ends empty.
archive_errors() {
  local errors
  errors=$(grep '^E: ' <<<"$archive_output" | paste -sd ' ') || errors=""
  [ -n "$errors" ] || errors="no error line from apt; its last line: $(tail -n 1 <<<"$archive_output")"
  echo "$errors"
}

archive_busy() { grep -q '^E: Could not get lock\|^E: Unable to acquire the dpkg frontend lock' <<<"$archive_output"; }

# Pauses before the next try, saying why; fails once the tries are used up.
archive_again() {
  [ "$archive_tries" -lt 4 ] || return 1
  local pause=$((archive_unit << (archive_tries - 1)))
  archive_warn "$1; trying again in $pause s (try $((archive_tries + 1)) of 4)"
  sleep "$pause"
}

archive_not_ours() { archive_warn "the archive was out of reach or in the middle of a sync, which is no fault of this project.${1:+ $1}"; }

archive_update() {
  archive_required=("$@")
  local unfetched="" line suite codename update_suites hard="" left=""
  while :; do
    archive_tries=$((archive_tries + 1))
    if archive_apt update -q --error-on=any -o Acquire::Retries=3; then
      archive_left_out=()
      return 0
    fi
    unfetched=$(archive_unfetched)
    archive_again "apt-get update failed${unfetched:+ on ${unfetched%%$'\n'*}}" || break
  done
  if [ -z "$unfetched" ]; then
    if archive_busy; then
      archive_warn "another apt-get or dpkg kept apt's lists locked through $archive_tries tries ($(archive_errors)); run this again once it has finished"
    else
      archive_warn "apt-get update failed without naming a file it could not fetch: $(archive_errors)"
    fi
    return 1
  fi
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  update_suites=" ${codename:+$codename-security $codename-updates $codename-backports} "
  archive_warn "Debian's archive did not serve these files in $archive_tries tries:"
  while IFS= read -r line; do
    archive_warn "  $line"
    suite=$(sed -n 's|^[^ ]*/dists/\([^/ ]*\)/.*|\1|p' <<<"$line")
    if [ -n "$suite" ] && [[ $update_suites == *" $suite "* ]] && [[ " ${archive_required[*]} " != *" $suite "* ]]; then
      [[ " $left " == *" $suite "* ]] || left="$left $suite"
    else
      hard=1
    fi
  done <<<"$unfetched"
  if [ -n "$hard" ]; then
    archive_not_ours "Nothing was installed: try again later."
    return 1
  fi
  read -r -a archive_left_out <<<"$left"
  archive_not_ours
  archive_warn "installing without ${archive_left_out[*]}, for every architecture (so that the amd64 and i386 versions agree): what is installed now lacks its fixes; run this again later, or apt-get update && apt-get upgrade, to get them"
}

# A preferences file that keeps the suites left out away from every architecture,
# after what /etc/apt/preferences holds; its path, or nothing when none is left out.
archive_pins() {
  [ ${#archive_left_out[@]} -gt 0 ] || return 0
  local file suite
  file=$(mktemp) || return 1
  {
    [ ! -f /etc/apt/preferences ] || { cat /etc/apt/preferences && echo; }
    for suite in "${archive_left_out[@]}"; do
      printf 'Package: *\nPin: release n=%s\nPin-Priority: -1\n\n' "$suite"
    done
  } >"$file"
  echo "$file"
}

# What apt could not install, as it says it: each package with its first unmet
# dependency, or the package it cannot find.
archive_uninstallable() {
  {
    sed -n 's/^ \([^ ]*\) : \(.*\)$/\1 (\2)/p' <<<"$archive_output"
    sed -n "s/^E: Unable to locate package \(.*\)$/\1 (not in the package lists)/p; s/^E: Package '\([^']*\)' has no installation candidate$/\1 (no installation candidate)/p" <<<"$archive_output"
  } | paste -sd ';' | sed 's/;/; /g'
}

archive_install() {
  local pins status unfetched packages
  export DEBIAN_FRONTEND=noninteractive
  while :; do
    pins=$(archive_pins) || { archive_warn "could not write apt's preferences for the suites left out"; return 1; }
    status=0
    archive_apt install -y -q -o Acquire::Retries=3 -o DPkg::Lock::Timeout=60 \
      ${pins:+-o "Dir::Etc::Preferences=$pins"} "$@" || status=$?
    [ -z "$pins" ] || rm -f "$pins"
    [ "$status" -ne 0 ] || return 0
    unfetched=$(archive_unfetched)
    if [ -n "$unfetched" ] || archive_busy; then
      if archive_again "apt-get install failed${unfetched:+ on ${unfetched%%$'\n'*}}"; then
        archive_update "${archive_required[@]}" || return 1
        continue
      fi
      if [ -n "$unfetched" ]; then
        archive_warn "Debian's archive did not serve these packages in $archive_tries tries:"
        sed "s/^/$archive_who:   /" <<<"$unfetched" >&2
        archive_not_ours "Nothing was installed: try again later."
      else
        archive_warn "another apt-get or dpkg held dpkg's lock through $archive_tries tries; run this again once it has finished"
      fi
      return 1
    fi
    packages=$(archive_uninstallable)
    if [ -n "$packages" ]; then
      archive_warn "apt-get cannot install $packages."
      archive_warn "the package lists Debian's archive served${archive_left_out[*]:+ without ${archive_left_out[*]}} do not fit together, most likely because it was in the middle of a sync or partly out of reach, which is no fault of this project. Nothing was installed: try again later."
    else
      archive_warn "apt-get install failed with status $status: $(archive_errors)"
    fi
    return 1
  done
}
