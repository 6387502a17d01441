#!/bin/bash
# Signs Windows binaries and packages in place with Authenticode (SHA-256),
# using osslsigncode.
#   sign.sh FILE...
# The certificate and its key come from the environment, never from the tree:
#   VELK_SIGN_PKCS12         PKCS#12 file holding the code-signing certificate and key
#   VELK_SIGN_PASSWORD       its password (handed to osslsigncode through a private file)
#   VELK_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping server; no time stamp without it
# Exit codes: 0 signed; 1 a signature failed; 77 no certificate set (nothing signed).
set -u
[ $# -gt 0 ] || { echo "usage: sign.sh FILE..." >&2; exit 2; }
if [ -z "${VELK_SIGN_PKCS12:-}" ]; then
  echo "sign: no certificate set (VELK_SIGN_PKCS12 is empty): $# file(s) left UNSIGNED"
  exit 77
fi
[ -r "$VELK_SIGN_PKCS12" ] || { echo "sign: cannot read $VELK_SIGN_PKCS12"; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode is not installed"; exit 1; }

private=$(mktemp -d)
trap 'rm -rf "$private"' EXIT
chmod 700 "$private"
# Not on the command line, where every process could read it.
printf '%s' "${VELK_SIGN_PASSWORD:-}" >"$private/pass"
timestamp=()
if [ -n "${VELK_SIGN_TIMESTAMP_URL:-}" ]; then
  timestamp=(-ts "$VELK_SIGN_TIMESTAMP_URL")
else
  echo "sign: no time-stamping server set (VELK_SIGN_TIMESTAMP_URL): signatures carry no time stamp"
fi

status=0
for file in "$@"; do
  out="$private/$(basename "$file")"
  if osslsigncode sign -pkcs12 "$VELK_SIGN_PKCS12" -readpass "$private/pass" -h sha256 \
       -n "velk-access" "${timestamp[@]}" -in "$file" -out "$out" >"$private/log" 2>&1 &&
     cat "$out" >"$file"; then
    echo "signed $file"
  else
    echo "sign: FAILED $file"
    cat "$private/log"
    status=1
  fi
  rm -f "$out"
done
exit $status
