#!/usr/bin/env bash
# Checks a Korvane installation medium the way a customer would, from a checkout
# of the commit it was made from, which its build record names. One line per
# check and a verdict; exit status 0 only when every check passed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/medium/common.sh"
pe() { python3 "$root/tools/medium/pe.py" "$@"; }

usage() {
  cat <<'EOF'
Usage: tools/verify-medium.sh MEDIUM [--ca CERT.pem]

MEDIUM is a medium folder (Korvane/, or the folder holding it), Korvane.zip or
Korvane.iso. Checked, one line each:
  open       the zip or ISO is sound and holds a medium folder, with no links
  sums       every file named in SHA256SUMS is there and matches; no file is unlisted
  record     the build record BUILDINFO.txt names the commit the medium was made
             from (check it out: git checkout COMMIT) and says whether that tree
             was clean
  launcher   KorvaneSetup.exe is a 32-bit Windows GUI program
  resources  it carries dialogs 131 and 102, bitmap 137, icon group 128, the version
             block (of the version in res/product.txt) and the manifest
  signature  its Authenticode signature is valid: against CERT.pem when --ca is
             given (then a signature is required), else against the system's roots
  build      less its signature it is byte-identical to a release build of this
             checkout, made with the launcher's own PE timestamp as SOURCE_DATE_EPOCH
             (the build runs when needed: cmake --workflow --preset release); a
             checkout of another commit than the record's fails, naming both
  setup.ini  its ProductGUID is the launcher's own product code (res/product.txt)
  files      extsetup.exe and v1uninst100.iss are there
EOF
}

medium_arg="" ca=""
while [ $# -gt 0 ]; do
  case "$1" in
    --ca) [ $# -ge 2 ] || { echo "verify-medium: --ca needs a file" >&2; exit 2; }; ca=$2; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "verify-medium: unknown option '$1' (see --help)" >&2; exit 2 ;;
    *) [ -z "$medium_arg" ] || { echo "verify-medium: one medium at a time" >&2; exit 2; }
       medium_arg=$1; shift ;;
  esac
done
[ -n "$medium_arg" ] || { usage >&2; exit 2; }
[ -z "$ca" ] || [ -r "$ca" ] || { echo "verify-medium: cannot read the CA certificate '$ca'" >&2; exit 2; }

# The checks a sound medium passes, each once; one that did not report counts
# as failed, so that a fault in this script can never pass as a sound medium.
expected=(open sums record launcher resources signature build setup.ini files)
declare -A reported=()
failed=() checks=0 notes=()
ok() { checks=$((checks + 1)); reported[$1]=1; printf 'ok   %s: %s\n' "$1" "$2"; }
bad() { checks=$((checks + 1)); reported[$1]=1; failed+=("$1"); printf 'FAIL %s: %s\n' "$1" "$2"; }
note() { reported[$1]=1; printf 'NOTE %s: %s\n' "$1" "$2"; }
first_reason() { grep -v '^\[' "$1" | grep -m 1 . | sed 's/^ *//; s/\.  .*//' | oneline; }
magic() { dd if="$1" bs=1 skip="$2" count="$3" 2>/dev/null | tr -d '\0'; }
verdict() {
  local check
  # A medium that could not be opened has nothing else to check.
  if [ -z "${reported[open]:-}" ] || [[ " ${failed[*]} " != *" open "* ]]; then
    for check in "${expected[@]}"; do
      [ -n "${reported[$check]:-}" ] || bad "$check" "did not run (a fault in this check)"
    done
  fi
  if [ ${#failed[@]} -eq 0 ]; then
    echo "verify-medium: PASS, all $checks checks passed$([ ${#notes[@]} -eq 0 ] || (IFS=';'; echo " (${notes[*]})" | sed 's/;/; /g'))"
    exit 0
  fi
  echo "verify-medium: FAIL, ${#failed[@]} of $checks checks failed: ${failed[*]}"
  exit 1
}

work=$(mktemp -d)
# Folders unpacked from an ISO can be read-only.
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
echo "verify-medium: checking $medium_arg"

# --- open: find the medium folder, unpacking a zip or an ISO into $work.
medium=""
if [ -d "$medium_arg" ]; then
  medium=$medium_arg
  [ -e "$medium/SHA256SUMS" ] || [ ! -d "$medium/Korvane" ] || medium=$medium/Korvane
  ok open "folder $medium"
elif [ ! -f "$medium_arg" ]; then
  bad open "there is no file or folder '$medium_arg'"; verdict
elif [[ "$medium_arg" == *.zip ]] || [ "$(magic "$medium_arg" 0 2)" = PK ]; then
  unzip -tqq "$medium_arg" >"$work/unzip.log" 2>&1 ||
    { bad open "$medium_arg is damaged or not a zip ($(first_reason "$work/unzip.log"))"; verdict; }
  # Only plain files and folders, and no name that climbs out of the folder it is
  # unpacked into: a link in a medium could point the checks anywhere.
  if zipinfo "$medium_arg" | sed '1,2d;$d' | cut -c1 | grep -qv '[-d]' ||
     zipinfo -1 "$medium_arg" | grep -qE '^/|(^|/)\.\.(/|$)'; then
    bad open "$medium_arg holds links, special files or names outside its folder"; verdict
  fi
  unzip -qq "$medium_arg" -d "$work/unpacked" >"$work/unzip.log" 2>&1 ||
    { bad open "unpacking $medium_arg failed ($(first_reason "$work/unzip.log"))"; verdict; }
  medium=$work/unpacked
  ok open "$medium_arg is a sound zip"
elif [[ "$medium_arg" == *.iso ]] || [ "$(magic "$medium_arg" 32769 5)" = CD001 ]; then
  command -v xorriso >/dev/null ||
    { bad open "reading an ISO image needs xorriso: apt-get install xorriso (or tools/deps.sh as root)"; verdict; }
  # As for a zip: links and special files are refused before anything is unpacked.
  specials=$(xorriso -no_rc -indev "$medium_arg" -find / -not -type f -not -type d 2>/dev/null | head -n 3 | oneline)
  [ -z "$specials" ] || { bad open "$medium_arg holds links or special files ($specials)"; verdict; }
  xorriso -no_rc -osirrox on -indev "$medium_arg" -extract / "$work/unpacked" >"$work/xorriso.log" 2>&1 ||
    { bad open "$medium_arg is damaged or not an ISO image ($(grep -m 1 -E 'FAILURE|SORRY' "$work/xorriso.log" | oneline))"; verdict; }
  label=$(xorriso -no_rc -indev "$medium_arg" -pvd_info 2>/dev/null | sed -n 's/^Volume Id *: //p')
  medium=$work/unpacked
  ok open "$medium_arg is an ISO 9660 image, volume ${label:-(no label)}"
else
  bad open "$medium_arg is neither a folder nor a zip nor an ISO image"; verdict
fi
if [ "$medium" = "$work/unpacked" ]; then
  [ -e "$medium/SHA256SUMS" ] || [ ! -d "$medium/Korvane" ] || medium=$medium/Korvane
fi
if [ -n "$(find "$medium" ! -type f ! -type d -print -quit)" ]; then
  bad open "the medium holds links or special files"; verdict
fi

# --- sums
sums=$medium/SHA256SUMS
if [ ! -f "$sums" ]; then
  bad sums "there is no SHA256SUMS"
else
  declare -A listed=()
  problems=() count=0 line_no=0
  while IFS= read -r line || [ -n "$line" ]; do
    line_no=$((line_no + 1))
    if [[ ! "$line" =~ ^([0-9a-f]{64})\ [\ *](.+)$ ]]; then
      problems+=("line $line_no is not 'sha256  name'"); continue
    fi
    hash=${BASH_REMATCH[1]} name=${BASH_REMATCH[2]}
    if [[ "$name" == /* || "/$name/" == */../* || -n "${listed[$name]:-}" ]]; then
      problems+=("line $line_no names '$name', outside the medium or twice"); continue
    fi
    listed[$name]=1 count=$((count + 1))
    if [ ! -f "$medium/$name" ]; then
      problems+=("$name is missing")
    elif [ "$(sha256sum <"$medium/$name" | cut -d' ' -f1)" != "$hash" ]; then
      problems+=("$name does not match")
    fi
  done <"$sums"
  while IFS= read -r name; do
    [ -n "${listed[$name]:-}" ] || problems+=("$name is not listed")
  done < <(cd "$medium" && find . -type f ! -path ./SHA256SUMS -printf '%P\n' | LC_ALL=C sort)
  if [ ${#problems[@]} -eq 0 ] && [ "$count" -gt 0 ]; then
    ok sums "SHA256SUMS lists $count files, all present and matching, and no other"
  else
    [ "$count" -gt 0 ] || problems+=("it lists no file")
    bad sums "$(IFS=';'; echo "${problems[*]}" | sed 's/;/; /g')"
  fi
fi

# --- record: which commit the medium was made from, and whether its tree was clean
record=$medium/BUILDINFO.txt record_commit=""
record_value() { tr -d '\r' <"$record" | sed -n "s/^$1=//p" | head -n 1; }
if [ ! -f "$record" ]; then
  bad record "there is no BUILDINFO.txt: the medium does not name the commit it was made from"
else
  record_commit=$(record_value commit)
  tree=$(record_value tree)
  epoch=$(record_value SOURCE_DATE_EPOCH)
  if [[ ! "$record_commit" =~ ^[0-9a-f]{40}$ ]]; then
    bad record "BUILDINFO.txt names no commit (commit=${record_commit:-nothing})"
    record_commit=""
  elif [ "$tree" = clean ]; then
    ok record "made from commit $record_commit, a clean tree, SOURCE_DATE_EPOCH ${epoch:-not given}: check it from a checkout of that commit (git checkout $record_commit)"
  elif [ -n "$tree" ]; then
    notes+=("made from a tree with changes not committed")
    note record "made from commit $record_commit with changes not committed (BUILDINFO.txt): only a checkout with the same changes rebuilds it"
  else
    bad record "BUILDINFO.txt does not say whether the tree it was made from was clean (no tree=)"
  fi
fi

# --- the launcher itself
launcher=$medium/KorvaneSetup.exe
declare -A fact=() sound=()
code=$(product_value productCode 2>&1) || { bad setup.ini "$code"; code=""; }
version=$(product_value launcherVersion 2>&1) || { bad resources "$version"; version=""; }
if [ ! -f "$launcher" ]; then
  for check in launcher resources signature build; do bad "$check" "there is no KorvaneSetup.exe"; done
else
  while IFS='|' read -r name status detail; do
    fact[$name]=$detail sound[$name]=$status
  done < <(pe facts "$launcher" "${version:-0,0,0,0}" "$medium/setup.ini")
  [ "${sound[kind]:-}" = ok ] && ok launcher "KorvaneSetup.exe is ${fact[kind]}" ||
    bad launcher "KorvaneSetup.exe: ${fact[kind]:-cannot be read}"
  if [ -n "$version" ]; then
    [ "${sound[resources]:-}" = ok ] && ok resources "${fact[resources]}" || bad resources "${fact[resources]:-cannot be read}"
  fi
  source "$root/tools/medium/verify-launcher.sh"
fi

# --- setup.ini and the other files
if [ -n "$code" ]; then
  if [ ! -f "$medium/setup.ini" ]; then
    bad setup.ini "there is no setup.ini"
  elif [ ! -f "$launcher" ]; then
    bad setup.ini "there is no KorvaneSetup.exe whose product code it could name"
  elif guid=${fact[productguid]:-}; [ "${sound[productguid]:-}" != ok ]; then
    bad setup.ini "setup.ini: ${guid:-cannot be read}"
  elif [ "$guid" != "$code" ]; then
    bad setup.ini "ProductGUID is '$guid', but the launcher's own product code is $code"
  elif ! LC_ALL=C grep -q -a -F "$code" "$launcher"; then
    bad setup.ini "ProductGUID is $code, but the launcher does not carry that product code"
  else
    ok setup.ini "ProductGUID $guid is the launcher's own product code"
  fi
fi
missing=()
for name in extsetup.exe v1uninst100.iss; do [ -s "$medium/$name" ] || missing+=("$name"); done
[ ${#missing[@]} -eq 0 ] && ok files "extsetup.exe and v1uninst100.iss are there" ||
  bad files "missing or empty: ${missing[*]}"
verdict
