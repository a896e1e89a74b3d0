#!/usr/bin/env bash
# The Java step of the demo: a PFX key signs through the binding, and the
# openssl tool accepts the signature.
set -euo pipefail
top=$1 lib=$2 work=$3
mkdir -p "$work"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout signer.key.pem -subj "/CN=Demo Signer" -days 30 -sha256 \
  -out signer.pem 2>/dev/null
openssl pkcs12 -export -in signer.pem -inkey signer.key.pem -passout pass:demo -out signer.p12
printf 'a document signed from Java\n' > document.txt
rm -rf classes
javac -d classes "$top/tests/jni/java/com/vandrelot/crypto/WKP11Crypt.java" "$top/examples/java/PfxSign.java"
java -Xcheck:jni -cp classes PfxSign "$lib" signer.p12 demo document.txt document.p7s
openssl cms -verify -binary -inform DER -in document.p7s -content document.txt -CAfile signer.pem \
  -out /dev/null
echo "java: openssl cms accepts the signature"
