#!/bin/bash
# Signs a copy of a Windows build's shipped binaries with a throwaway
# self-signed code-signing certificate, verifies every signature, and runs
# the signed program end to end under Wine.
#   signing.sh WIN64_BUILD_DIR
# Exit codes: 0 passed; 1 failed; 77 could not run (no openssl/osslsigncode).
set -u
source=$(cd "$(dirname "$0")/../.." && pwd)
. "$source/tools/release/common.sh"
build=$(cd "${1:?usage: signing.sh WIN64_BUILD_DIR}" && pwd)
for tool in openssl osslsigncode; do
  command -v $tool >/dev/null || { echo "signing: SKIPPED: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/velk-signing-XXXXXX)
trap 'rm -rf "$work"' EXIT
# The throwaway certificate: a day long, for code signing only.
password=$(openssl rand -hex 16)
if ! openssl req -x509 -newkey rsa:3072 -nodes -days 1 -subj "/CN=velk-access CI throwaway signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 ||
  ! openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout "pass:$password" \
    -out "$work/signer.p12" >/dev/null 2>&1; then
  echo "signing: cannot make the certificate"
  exit 1
fi

mkdir -p "$work/build/bin"
cp "$build"/bin/*.exe "$build"/bin/*.dll "$work/build/bin/" 2>/dev/null
files=()
for name in $(shipped_binaries win64); do
  [ -f "$work/build/bin/$name" ] || { echo "signing: $name is not built in $build"; exit 1; }
  files+=("$work/build/bin/$name")
  printf '%s unsigned %d bytes\n' "$name" "$(stat -c %s "$work/build/bin/$name")"
done

failures=0
VELK_SIGN_PKCS12=$work/signer.p12 VELK_SIGN_PASSWORD=$password \
  bash "$source/tools/release/sign.sh" "${files[@]}" || failures=$((failures + 1))
for file in "${files[@]}"; do
  name=$(basename "$file")
  printf '%s signed %d bytes sha256 %s\n' "$name" "$(stat -c %s "$file")" "$(sha256sum <"$file" | cut -d' ' -f1)"
  # The digest osslsigncode computes over the file must be the one signed.
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >"$work/verify.log" 2>&1 &&
     grep -q "Signature verification: ok" "$work/verify.log" &&
     grep -q "Message digest algorithm  : SHA256" "$work/verify.log"; then
    echo "  ok   - $name: signature verifies and covers the file"
  else
    echo "  FAIL - $name: signature does not verify"
    cat "$work/verify.log"
    failures=$((failures + 1))
  fi
done
# A changed byte must break the signature (the check is not vacuous).
cp "${files[0]}" "$work/tampered"
printf 'X' | dd of="$work/tampered" bs=1 seek=1024 conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered" >/dev/null 2>&1; then
  echo "  FAIL - a changed byte still verifies"
  failures=$((failures + 1))
else
  echo "  ok   - a changed byte breaks the signature"
fi

# The signed binaries still load and run.
rc=0
VELK_HOST_BUILD=${VELK_HOST_BUILD:-$build/../host} bash "$source/packaging/wine/e2e.sh" "$work/build" program frame || rc=$?
case $rc in
  0) ;;
  77) echo "signing: Wine run of the signed binaries SKIPPED"; [ $failures -eq 0 ] && exit 77 ;;
  *) failures=$((failures + 1)) ;;
esac
[ $failures -eq 0 ]
