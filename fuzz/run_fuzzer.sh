#!/usr/bin/env bash
# Seeds a corpus from the fixtures and runs one fuzz target for a bounded time.
set -euo pipefail
binary=$1 target=$2 fixtures=$3 corpus=$4 seconds=$5
mkdir -p "$corpus"
objects="$fixtures/objects"
case "$target" in
  base64) seeds=("$objects"/*.pem) ;;
  pem) seeds=("$objects"/*.pem) ;;
  load_store)
    seeds=()
    { cat "$objects/ca.pem" "$fixtures/chains/"*.pem 2>/dev/null; printf '\0'; cat "$objects/crl.pem"; } \
      > "$corpus/seed-store" ;;
  cert_rules)
    seeds=()
    printf 'C=TW\nO=Orvane Test\nCN=User One\0CN=Test Root' > "$corpus/seed-rules" ;;
  pkcs7)
    seeds=()
    { printf '\x01'; cat "$objects/signed.p7.der"; } > "$corpus/seed-signed"
    openssl smime -encrypt -binary -des3 -outform DER -in "$objects/content.txt" -out "$corpus/envelope.der" \
      "$objects/user.pem"
    { printf '\x00'; cat "$corpus/envelope.der"; } > "$corpus/seed-envelope"
    rm "$corpus/envelope.der" ;;
  ocsp_answer)
    seeds=()
    { printf '\x00HTTP/1.0 200 OK\r\nContent-Type: application/ocsp-response\r\n\r\n'
      cat "$fixtures/ocsp/good.resp.der"; } > "$corpus/seed-answer"
    printf '\x01https://ocsp.example:8443/a:b?c=d' > "$corpus/seed-url" ;;
  certread)
    seeds=()
    i=0
    for cert in "$fixtures/x509/"*.pem "$fixtures/x509/"*.der; do
      case "$cert" in *.p7.der|*ocsp*|*.key.pem) continue ;; esac
      { printf '\x00'; openssl x509 -in "$cert" -inform "$( [ "${cert##*.}" = der ] && echo DER || echo PEM)" \
          -outform DER 2>/dev/null; } > "$corpus/seed-cert-$i" || rm -f "$corpus/seed-cert-$i"
      i=$((i + 1))
    done
    printf '\x01991231235959Z' > "$corpus/seed-utc"
    printf '\x01010203040506-0130' > "$corpus/seed-utc-offset"
    printf '\x0220500101000000Z' > "$corpus/seed-generalized" ;;
  textapi)
    seeds=()
    for cert in "$fixtures/textapi/"*.pem; do
      case "$cert" in *.key.pem|*.enc.pem|*.p8.pem) continue ;; esac
      openssl x509 -in "$cert" -outform DER -out "$corpus/seed-$(basename "$cert" .pem)" 2>/dev/null || true
    done ;;
  hex) seeds=() ; od -An -v -tx1 "$objects/ca.der" | tr -d ' \n' > "$corpus/seed-hex" ;;
  cka_id_hex) seeds=() ; printf '0a1B' > "$corpus/seed-id" ; printf 'zz7' > "$corpus/seed-odd" ;;
  decode_object)
    seeds=()
    # The first byte selects the kind: keep each seed paired with its kind.
    i=0
    for pair in 0:ca.der 1:user.csr.der 2:crl.der 3:signed.p7.der 5:user.rsa.der 6:user.pub.der \
                7:user.p12 8:user.p8.der 9:user.p8info.der 10:ocsp.req.der 11:ocsp.resp.der; do
      sel=${pair%%:*} file=${pair#*:}
      { printf "\\x$(printf %02x "$sel")"; cat "$objects/$file"; } > "$corpus/seed-$i"
      i=$((i + 1))
    done
    { printf '\x10'; cat "$objects/ca.pem"; } > "$corpus/seed-text-cert"
    { printf '\x35'; cat "$objects/user.rsa.des3.pem"; } > "$corpus/seed-text-key"
    ;;
  nb_records)
    seeds=()
    # Wrapped forms: a certificate element, and a plaintext key (its INTEGERs
    # in the order of an RSA private key, so the primes read are no primes).
    containers="$fixtures/containers"
    { printf '\x02'; cat "$containers/nb1024.der"; } > "$corpus/seed-cert"
    { printf '\x06'; cat "$containers/nb1024.der"; } > "$corpus/seed-cert-optional"
    { printf '\x03'; openssl rsa -in "$containers/nb1024.key.pem" -traditional -outform DER 2>/dev/null; } \
      > "$corpus/seed-user" ;;
  pkcs12)
    seeds=()
    i=0
    for pair in 2:aes.p12 2:legacy.p12 2:plain.p12 0:empty.p12 2:nomac.p12 2:keytool.p12; do
      sel=${pair%%:*} file="$fixtures/containers/${pair#*:}"
      [ -f "$file" ] || continue
      { printf "\\x$(printf %02x "$sel")"; cat "$file"; } > "$corpus/seed-$i"
      i=$((i + 1))
    done ;;
  pkcs8)
    seeds=()
    i=0
    for file in "$fixtures/containers/"pbes*.p8.der; do
      { printf '\x03'; cat "$file"; } > "$corpus/seed-$i"
      i=$((i + 1))
    done
    { printf '\x00'; cat "$fixtures/containers/user.p8info.der"; } > "$corpus/seed-info" ;;
  build_texts)
    seeds=()
    printf '\x00C = TW\nO=Orvane Test\nE=a@b.example\n2.5.4.5=SN1\nstreet=' > "$corpus/seed-dn"
    printf '\x01DNS=a.example\tIP Address=::1\tmsUPN=zo\xc3\xab\tDirName=CN=x\nO=y\tRegistered ID=1.2.3' \
      > "$corpus/seed-names"
    printf '\x0220101231235959+0900' > "$corpus/seed-time"
    printf '\x03\x02CA:TRUE,pathlen:3' > "$corpus/seed-ext" ;;
  crl_lookup)
    seeds=("$objects/crl.der" "$fixtures/keys/"crl.*.der) ;;
  triple_des)
    seeds=()
    # IV and cipher text under the key the library derives from "passphrase".
    key=$(openssl kdf -keylen 32 -kdfopt digest:SHA1 -kdfopt pass:passphrase -kdfopt hexsalt: -kdfopt iter:1 \
      PBKDF2 | tr -d ':')
    for n in 0 20 1100; do
      { printf '\x22'; { printf '\x01\x02\x03\x04\x05\x06\x07\x08'; head -c "$n" "$objects/ca.der" |
          openssl enc -des-ede3-cbc -K "${key:0:48}" -iv 0102030405060708; } | openssl base64; } \
        > "$corpus/seed-$n"
    done ;;
esac
for s in "${seeds[@]}"; do cp "$s" "$corpus/"; done
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
