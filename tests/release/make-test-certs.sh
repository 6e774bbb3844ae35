#!/usr/bin/env bash
# Makes throw-away signing material in DIR for the medium tests, with openssl:
#   signer.pfx / signer.pem   a self-signed RSA code-signing certificate and key
#   other.pfx / other.pem     a second one, of a signer nobody asked for
#   tls.pfx                   a web-server certificate with its key (not for code)
#   nokey.pfx                 the code-signing certificate without its key
#   password                  the password of every .pfx, on one line
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
# A password nobody would type, so that a leak of it is easy to find.
printf 'pw-%s-leak-marker\n' "$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')" >password
certify() {  # certify NAME "EXTENDED KEY USAGE"
  openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=Korvane test $1" \
    -keyout "$1.key" -out "$1.pem" -addext "extendedKeyUsage=$2" \
    -addext "keyUsage=critical,digitalSignature" 2>/dev/null
  openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -out "$1.pfx" -passout file:password
  rm -f "$1.key"
}
certify signer codeSigning
certify other codeSigning
certify tls serverAuth
openssl pkcs12 -export -nokeys -in signer.pem -out nokey.pfx -passout file:password
