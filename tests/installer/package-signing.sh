#!/usr/bin/env bash
# package-signing.sh PACKAGE_INPUTS VERSION NEXT_VERSION OUT
#
# Authenticode signing as scripts/package does it, with a throwaway code-signing
# certificate made here: the packages of VERSION and NEXT_VERSION are built from
# the build's binaries with ITEMPLUGIN_SIGN_PFX set, into OUT (the lifecycle test
# installs them). osslsigncode must accept the DLL, each tool, each package and
# the DLL taken out of the package again, and refuse a file with one byte
# changed. Without a certificate nothing is signed and the build says so once.
set -euo pipefail
inputs=${1:?package inputs}; version=${2:?version}; next_version=${3:?next version}; out=${4:?output folder}
build_package=$(dirname "$0")/../../installer/BuildPackage.cmake
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out/cert"
cert=$out/cert
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/key.pem" -out "$cert/cert.pem" -days 2 \
  -subj "/CN=ItemPlugin test code signing/O=Kestrelmar test" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" 2>/dev/null ||
  fail "openssl cannot make the certificate"
openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/test.pfx" \
  -passout pass:throwaway-password || fail "openssl cannot make the PKCS#12 file"

verify() { osslsigncode verify -CAfile "$cert/cert.pem" -in "$1" >"$out/verify.log" 2>&1; }

echo "== without a certificate: nothing is signed, one line says so"
unsigned="$out/unsigned/ItemPlugin-$version-x64.msi"
mkdir -p "$out/unsigned"
env -u ITEMPLUGIN_SIGN_PFX -u ITEMPLUGIN_SIGN_PKCS11_MODULE \
  cmake -DINPUTS="$inputs" -DVERSION="$version" -DOUTPUT="$unsigned" -P "$build_package" >"$out/unsigned.log" 2>&1 ||
  { cat "$out/unsigned.log" >&2; fail "the unsigned package was not built"; }
[ "$(grep -c 'nothing is signed' "$out/unsigned.log")" = 1 ] || { cat "$out/unsigned.log" >&2; fail "no single 'nothing is signed' line"; }
grep -q 'signed ' <(grep -v 'nothing is signed' "$out/unsigned.log") && fail "something was signed without a certificate"
verify "$unsigned.files/ItemPlugin.dll" && fail "the DLL of the unsigned package carries a signature"
rm -rf "$out/unsigned"

export ITEMPLUGIN_SIGN_PFX="$cert/test.pfx" ITEMPLUGIN_SIGN_PASSWORD=throwaway-password
unset ITEMPLUGIN_SIGN_TIMESTAMP_URL ITEMPLUGIN_SIGN_PKCS11_MODULE
for v in "$version" "$next_version"; do
  package="$out/ItemPlugin-$v-x64.msi"
  echo "== signed package $v"
  cmake -DINPUTS="$inputs" -DVERSION="$v" -DOUTPUT="$package" -P "$build_package" >"$out/sign-$v.log" 2>&1 ||
    { cat "$out/sign-$v.log" >&2; fail "the signed package $v was not built"; }
  grep -c 'signed .* (SHA-256, no time stamp)' "$out/sign-$v.log" | grep -qx 4 ||
    { cat "$out/sign-$v.log" >&2; fail "not four files signed without a time stamp"; }
  grep -q 'nothing is signed' "$out/sign-$v.log" && fail "the signed build says nothing is signed"
  for file in "$package.files/ItemPlugin.dll" "$package.files/itemhost.exe" "$package.files/itemcache.exe" "$package"; do
    verify "$file" || { cat "$out/verify.log" >&2; fail "$(basename "$file"): osslsigncode verify failed"; }
    grep -q 'Message digest algorithm *: SHA256' "$out/verify.log" || { cat "$out/verify.log" >&2; fail "$(basename "$file"): not SHA-256"; }
    echo "   verified $(basename "$file")"
  done
  ls "$package".files/*.pass 2>/dev/null && fail "a password file was left behind"
done

package="$out/ItemPlugin-$version-x64.msi"
echo "== the DLL taken out of the package"
mkdir -p "$out/extracted"
(cd "$out/extracted" && msiextract "$package" >/dev/null) || fail "msiextract failed"
extracted=$(find "$out/extracted" -name ItemPlugin.dll | head -1)
[ -n "$extracted" ] || fail "no ItemPlugin.dll in the package"
cmp -s "$extracted" "$package.files/ItemPlugin.dll" || fail "the packaged DLL is not the signed one"
verify "$extracted" || { cat "$out/verify.log" >&2; fail "the extracted DLL does not verify"; }
for tool in itemhost.exe itemcache.exe; do
  [ -n "$(find "$out/extracted" -name "$tool")" ] || fail "no $tool in the package"
done
rm -rf "$out/extracted"

echo "== one changed byte"
for file in "$package.files/ItemPlugin.dll" "$package"; do
  tampered="$out/tampered-$(basename "$file")"
  cp "$file" "$tampered"
  # A byte well inside the signed contents (code of a PE file, a stream of the package).
  offset=$(( $(stat -c %s "$tampered") / 3 ))
  byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
  printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
  cmp -s "$file" "$tampered" && fail "the byte was not changed"
  verify "$tampered" && fail "$(basename "$file") with one changed byte still verifies"
  echo "   refused $(basename "$file") with the byte at $offset changed"
  rm -f "$tampered"
done
echo "passed"
