#!/usr/bin/env bash
# The Java steps of the demo: a PFX key signs through the binding; then the
# main road: a key on a SoftHSM2 token of the demo's own signs from Java.
# The openssl tool accepts both signatures.
set -euo pipefail
top=$1 lib=$2 work=$3 module=$4
mkdir -p "$work"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout signer.key.pem -subj "/CN=Demo Signer" -days 30 -sha256 \
  -out signer.pem 2>/dev/null
openssl pkcs12 -export -in signer.pem -inkey signer.key.pem -passout pass:demo -out signer.p12
printf 'a document signed from Java\n' > document.txt
rm -rf classes
javac -sourcepath "$top/tests/jni/java" -d classes "$top/tests/jni/java/com/vandrelot/crypto/WKP11Crypt.java" "$top/examples/java/PfxSign.java" \
  "$top/examples/java/TokenSign.java"
java -Xcheck:jni -cp classes PfxSign "$lib" signer.p12 demo document.txt document.p7s
openssl cms -verify -binary -inform DER -in document.p7s -content document.txt -CAfile signer.pem \
  -out /dev/null
echo "java: openssl cms accepts the signature"

echo
rm -rf softhsm && mkdir -p softhsm/tokens
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$PWD/softhsm/tokens" \
  > softhsm/softhsm2.conf
export SOFTHSM2_CONF=$PWD/softhsm/softhsm2.conf
softhsm2-util --init-token --free --label "java demo" --so-pin 87654321 --pin 123456 >/dev/null
softhsm2-util --import signer.key.pem --token "java demo" --label "demo key" --id 0d0e --pin 123456 >/dev/null
# The listing gives each token's serial number before its label.
serial=$(softhsm2-util --show-slots | awk -F': *' '/Serial number:/ { s = $2 } /Label:/ && $2 ~ /^java demo/ { print s; exit }')
echo "java: made the SoftHSM2 token \"java demo\" (serial $serial) holding \"demo key\""
java -Xcheck:jni -cp classes TokenSign "$lib" "$module" "$serial" 123456 "demo key" signer.pem document.txt \
  token.p7s
openssl cms -verify -binary -inform DER -in token.p7s -content document.txt -CAfile signer.pem -out /dev/null
echo "java: openssl cms accepts the token's signature"
