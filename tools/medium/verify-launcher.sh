# Sourced by verify-medium.sh: the launcher's signature, and the launcher less
# its signature against a release build of this checkout, which must be the
# commit the medium's build record names.
# Uses from the caller: ok, bad, note, notes, launcher, ca, work, root,
# record_commit, and fact and sound, what pe.py found in the launcher.

signed=0
[ "${fact[signed]:-}" != yes ] || signed=1
if [ "${sound[signed]:-}" != ok ]; then
  bad signature "cannot look for a signature in KorvaneSetup.exe: ${fact[signed]:-no answer}"
elif [ "$signed" -eq 0 ]; then
  if [ -n "$ca" ]; then
    bad signature "KorvaneSetup.exe is not signed, and --ca asks for a signature"
  else
    notes+=("the launcher is not signed")
    note signature "KorvaneSetup.exe is not signed (--ca CERT.pem makes a signature a requirement)"
  fi
elif ! command -v osslsigncode >/dev/null; then
  bad signature "checking the signature needs osslsigncode: apt-get install osslsigncode (or tools/deps.sh as root)"
else
  args=(verify -in "$launcher")
  [ -z "$ca" ] || args+=(-CAfile "$ca")
  osslsigncode "${args[@]}" >"$work/verify.log" 2>&1
  status=$?
  signer=$(sed -n 's/^[[:space:]]*Subject *: *//p' "$work/verify.log" | head -n 1)
  if [ "$status" -ne 0 ]; then
    reason=$(sed -n 's/.*Verify error: *//p' "$work/verify.log" | head -n 1)
    [ -n "$reason" ] || reason=$(grep -m 1 -iE 'mismatch|failed|error' "$work/verify.log" | oneline)
    bad signature "the signature of KorvaneSetup.exe does not verify$([ -z "$ca" ] || echo " against $ca") ($reason)"
  elif ! grep -qE 'Message digest algorithm *: *SHA256' "$work/verify.log"; then
    bad signature "KorvaneSetup.exe is signed with $(sed -n 's/^Message digest algorithm *: *//p' "$work/verify.log" | head -n 1), not SHA-256"
  else
    anchor=${ca:-"the system's trusted roots"}
    ok signature "a valid SHA-256 Authenticode signature by $signer, chained to $anchor"
  fi
fi

# The release build that the launcher must equal: the same source, linked with
# the launcher's own PE timestamp (0 means a build without SOURCE_DATE_EPOCH).
stamp=${fact[timestamp]:-}
checkout=$(git -C "$root" rev-parse --verify -q HEAD 2>/dev/null)
if [ "${sound[timestamp]:-}" != ok ]; then
  bad build "cannot read the PE header of KorvaneSetup.exe: ${stamp:-no answer}"
elif [ -n "$record_commit" ] && [ "$checkout" != "$record_commit" ]; then
  # A build of another commit proves nothing about this medium, either way.
  bad build "the medium was made from commit $record_commit (its BUILDINFO.txt), but this checkout is ${checkout:-no git checkout}: git checkout $record_commit, then check the medium again"
elif [ "$signed" -eq 1 ] && ! command -v osslsigncode >/dev/null; then
  bad build "removing the signature needs osslsigncode: apt-get install osslsigncode"
elif ! command -v cmake >/dev/null; then
  bad build "the release build needs CMake and MinGW-w64: run tools/deps.sh as root"
else
  commit=${checkout:0:12}
  [ -n "$commit" ] || commit="unknown commit"
  [ -z "$(git -C "$root" --no-optional-locks status --porcelain 2>/dev/null)" ] ||
    commit="$commit with changes not committed"
  mkdir -p "$root/build/logs"
  log=$root/build/logs/verify-medium-release.log
  if [ "$stamp" -eq 0 ]; then
    (cd "$root" && env -u SOURCE_DATE_EPOCH cmake --workflow --preset release) >"$log" 2>&1
  else
    (cd "$root" && SOURCE_DATE_EPOCH=$stamp cmake --workflow --preset release) >"$log" 2>&1
  fi
  built=$?
  if [ "$built" -ne 0 ]; then
    bad build "the release build of this checkout failed (log: $log)"
  elif [ "$signed" -eq 1 ] && ! osslsigncode remove-signature -in "$launcher" -out "$work/unsigned.exe" >"$work/remove.log" 2>&1; then
    bad build "cannot take the signature off KorvaneSetup.exe ($(tail -n 1 "$work/remove.log"))"
  else
    [ "$signed" -eq 1 ] || cp "$launcher" "$work/unsigned.exe"
    if [ -n "$record_commit" ]; then
      hint="the launcher is not what the commit its build record names builds (or it was built with other tools than BUILDINFO.txt lists)"
    else
      hint="check out the commit the medium was made from"
    fi
    if difference=$(cmp "$work/unsigned.exe" "$root/build/release/KorvaneSetup.exe" 2>&1); then
      ok build "KorvaneSetup.exe$([ "$signed" -eq 0 ] || echo " less its signature") is byte-identical to the release build of this checkout ($commit, PE timestamp $stamp)"
    else
      bad build "KorvaneSetup.exe$([ "$signed" -eq 0 ] || echo " less its signature") is not the release build of this checkout ($commit, PE timestamp $stamp): $(sed -E 's/.*differ: byte ([0-9]+).*/they first differ at byte \1/; s/^cmp: EOF on .* after byte ([0-9]+).*/one of them ends after byte \1/' <<<"$difference"); $hint"
    fi
  fi
fi
