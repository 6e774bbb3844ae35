# Sourced by make-medium.sh: Authenticode signing with osslsigncode, and the
# checks of the signing inputs that run before anything is written.
#
# The password is read from its file only by openssl (piped to its standard
# input) and osslsigncode (-readpass FILE). It never stands in an argument list,
# where /proc/<pid>/cmdline would show it to every user, nor in a shell
# variable, the output or a log.
#
# Uses from the caller: fail, log_dir, work, and the options sign_pfx,
# sign_password_file, timestamp_url and trust_ca.

pfx_legacy=()

# openssl pkcs12 on the certificate file. The password goes in through a pipe;
# a Windows line end is dropped first, as osslsigncode drops it, so that both
# tools read the same password from one file.
pfx_run() {
  tr -d '\r' <"$sign_password_file" |
    openssl pkcs12 -in "$sign_pfx" -passin stdin "${pfx_legacy[@]}" "$@"
}

check_signing_inputs() {
  local message leaf usage lines not_before
  [ -f "$sign_pfx" ] && [ -r "$sign_pfx" ] ||
    fail "cannot read the certificate file '$sign_pfx' (--sign-pfx): give a readable PKCS#12 file (.pfx or .p12) that holds the code-signing certificate and its private key"
  [ -f "$sign_password_file" ] && [ -r "$sign_password_file" ] ||
    fail "cannot read the password file '$sign_password_file' (--sign-password-file): give a readable file that holds the certificate's password on one line"
  lines=$(tr -d '\r\n' <"$sign_password_file" | wc -c)
  [ "$lines" -gt 0 ] || fail "the password file '$sign_password_file' is empty: put the certificate's password in it, on one line"
  lines=$(awk 'END { print NR }' "$sign_password_file")
  [ "$lines" -le 1 ] ||
    fail "the password file '$sign_password_file' has $lines lines: it must hold the password alone, on one line"
  command -v openssl >/dev/null ||
    fail "openssl is needed to check the certificate: install it (apt-get install openssl, or tools/deps.sh as root)"

  if ! message=$(pfx_run -noout 2>&1); then
    if grep -qi 'invalid password' <<<"$message"; then
      fail "the password in '$sign_password_file' does not open '$sign_pfx': put the certificate's password in the password file"
    fi
    # Certificates exported by older Windows use ciphers that OpenSSL 3 keeps
    # in its legacy provider.
    pfx_legacy=(-legacy)
    pfx_run -noout >/dev/null 2>&1 ||
      fail "'$sign_pfx' is not a PKCS#12 file that openssl can read ($(head -n 1 <<<"$message")): export the certificate with its private key as a .pfx file"
  fi
  pfx_run -info -noout 2>&1 | grep -qiE 'key ?bag' ||
    fail "'$sign_pfx' holds no private key: export the code-signing certificate together with its private key"
  leaf=$(pfx_run -nokeys -clcerts 2>/dev/null | sed -n '/BEGIN CERT/,/END CERT/p')
  [ -n "$leaf" ] || fail "'$sign_pfx' holds no certificate for its private key: export the certificate together with its key"
  usage=$(openssl x509 -noout -ext extendedKeyUsage <<<"$leaf" 2>/dev/null | sed -n '2,$p' | oneline)
  grep -q 'Code Signing' <<<"$usage" ||
    fail "the certificate in '$sign_pfx' is not for code signing (extended key usage: ${usage:-none}): Windows accepts Authenticode signatures only from a code-signing certificate"
  usage=$(openssl x509 -noout -ext keyUsage <<<"$leaf" 2>/dev/null | sed -n '2,$p' | oneline)
  [ -z "$usage" ] || grep -q 'Digital Signature' <<<"$usage" ||
    fail "the certificate in '$sign_pfx' may not make digital signatures (key usage: $usage): use a code-signing certificate"
  openssl x509 -noout -checkend 0 <<<"$leaf" >/dev/null ||
    fail "the certificate in '$sign_pfx' has expired ($(openssl x509 -noout -enddate <<<"$leaf")): renew it"
  not_before=$(openssl x509 -noout -startdate <<<"$leaf" | sed 's/^notBefore=//')
  [ "$(date -d "$not_before" +%s)" -le "$(date +%s)" ] ||
    fail "the certificate in '$sign_pfx' is valid only from $not_before on"
  signer=$(openssl x509 -noout -subject -nameopt oneline <<<"$leaf" | sed 's/^subject=//')
  if [ -n "${SOURCE_DATE_EPOCH:-}" ] && ! openssl x509 -noout -text <<<"$leaf" | grep -q rsaEncryption; then
    echo "make-medium: NOTE the key is not RSA: its signatures differ from run to run, so a signed medium is not reproducible"
  fi
  if [ -n "$trust_ca" ]; then
    [ -r "$trust_ca" ] && openssl x509 -in "$trust_ca" -noout 2>/dev/null ||
      fail "cannot read '$trust_ca' (--ca) as a PEM certificate: give the root certificate the signature must chain to"
  fi
  return 0
}

# osslsigncode from Debian; installed here when missing and we are root.
ensure_osslsigncode() {
  command -v osslsigncode >/dev/null && return 0
  [ "$(id -u)" -eq 0 ] ||
    fail "osslsigncode is missing: install it (sudo apt-get install osslsigncode, or sudo tools/deps.sh) and run this again"
  echo "make-medium: installing osslsigncode from Debian"
  { DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends osslsigncode ||
    { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends osslsigncode; }
  } >>"$log_dir/make-medium-install.log" 2>&1 ||
    fail "installing osslsigncode failed (see $log_dir/make-medium-install.log): install it by hand"
}

# The certificates a fresh signature must chain to: the --ca root when given,
# else the certificate file's own chain and the system's trusted roots.
write_trust() {
  if [ -n "$trust_ca" ]; then
    cp "$trust_ca" "$work/trust.pem"
  else
    pfx_run -nokeys 2>/dev/null | sed -n '/BEGIN CERT/,/END CERT/p' >"$work/trust.pem"
    [ ! -r /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$work/trust.pem"
  fi
}

# sign_pe FILE: signs FILE in place with SHA-256, then checks the signature. A
# signature that does not verify is an error that names the verifier's reason;
# the verifier's whole report goes to the signing log either way.
sign_pe() {
  local file=$1 args=(sign -pkcs12 "$sign_pfx" -readpass "$sign_password_file" -h sha256)
  # A fixed signing time makes two signings of one build identical.
  [ -z "${SOURCE_DATE_EPOCH:-}" ] || args+=(-time "$SOURCE_DATE_EPOCH")
  # -ts asks the server for an RFC 3161 time-stamp; osslsigncode's -t would ask
  # for the older Authenticode one.
  [ -z "$timestamp_url" ] || args+=(-ts "$timestamp_url")
  echo "== signing $file" >>"$log_dir/make-medium-sign.log"
  osslsigncode "${args[@]}" -in "$file" -out "$work/signed.exe" >>"$log_dir/make-medium-sign.log" 2>&1 ||
    fail "signing $(basename "$file") failed: $(tail -n 2 "$log_dir/make-medium-sign.log" | oneline)"
  # The verifier's status is taken here: left to set -e, a failed verification
  # would end the command at once, before its report reached the log and its
  # reason the message.
  local status=0 reason
  osslsigncode verify -in "$work/signed.exe" -CAfile "$work/trust.pem" >"$work/verify.log" 2>&1 || status=$?
  { echo "== verifying $file"; cat "$work/verify.log"; } >>"$log_dir/make-medium-sign.log"
  if [ "$status" -ne 0 ]; then
    # osslsigncode's own summary ("Error: self-signed certificate"), else
    # OpenSSL's line, else the status.
    reason=$(grep -m 1 -E '^[[:space:]]*Error: ' "$work/verify.log" | oneline)
    [ -n "$reason" ] || reason=$(grep -m 1 -iE 'error|failed' "$work/verify.log" | oneline)
    fail "the signature of $(basename "$file") does not verify (${reason:-osslsigncode verify ended with status $status}); see $log_dir/make-medium-sign.log"
  fi
  grep -qE 'Message digest algorithm *: *SHA256' "$work/verify.log" ||
    fail "the signature of $(basename "$file") verifies but is not an SHA-256 one; see $log_dir/make-medium-sign.log"
  mv "$work/signed.exe" "$file"
}
