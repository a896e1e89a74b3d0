#!/usr/bin/env bash
# Seeds a corpus from the fixtures and runs one fuzz target for a bounded time.
set -euo pipefail
binary=$1 target=$2 fixtures=$3 corpus=$4 seconds=$5
mkdir -p "$corpus"
# der TAG: the bytes on standard input as one DER element of that tag (hex).
der() {
  local content n
  content=$(mktemp)
  cat > "$content"
  n=$(stat -c %s "$content")
  printf "\\x$1"
  if [ "$n" -lt 128 ]; then
    printf "\\x$(printf %02x "$n")"
  elif [ "$n" -lt 256 ]; then
    printf "\\x81\\x$(printf %02x "$n")"
  else
    printf "\\x82\\x$(printf %02x $((n >> 8)))\\x$(printf %02x $((n & 255)))"
  fi
  cat "$content"
  rm "$content"
}
# authsafe FILE: the content of a PKCS#12 file's authenticated safe.
authsafe() {
  local offset
  offset=$(openssl asn1parse -inform DER -in "$1" | awk -F: '/d=3 .*OCTET STRING/ {print $1 + 0; exit}')
  # Through a pipe: openssl truncates a file it is given as /dev/stdout.
  openssl asn1parse -inform DER -in "$1" -strparse "$offset" -noout -out /dev/stdout | cat
}
# signerinfo FILE: the first signer info of a DER signed-data message, the
# element after the last SET of the signed data's own fields.
signerinfo() {
  local line offset header length
  line=$(openssl asn1parse -inform DER -in "$1" | awk '/d=3 .* SET/ {n = NR} {line[NR] = $0} END {print line[n + 1]}')
  offset=${line%%:*}
  header=$(sed 's/.*hl= *\([0-9]*\).*/\1/' <<< "$line")
  length=$(sed 's/.* l= *\([0-9]*\) .*/\1/' <<< "$line")
  tail -c +$((offset + 1)) "$1" | head -c $((header + length))
}
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
    ocsp="$fixtures/ocsp"
    # Answers of openssl ocsp: by name, by key, without certificates, and for
    # a revoked certificate.
    respond() { # request answer options...
      local request=$1 out=$2
      shift 2
      openssl ocsp -index "$ocsp/index.txt" -CA "$ocsp/ca.pem" -rsigner "$ocsp/responder.pem" \
        -rkey "$ocsp/responder.key" -reqin "$request" -respout "$out" "$@" 2>/dev/null
    }
    openssl ocsp -issuer "$ocsp/ca.pem" -cert "$ocsp/user-1001.pem" -reqout "$corpus/revoked.req" 2>/dev/null
    respond "$ocsp/good.req.der" "$corpus/bykey.resp" -resp_key_id
    respond "$ocsp/good.req.der" "$corpus/nocerts.resp" -resp_no_certs
    respond "$corpus/revoked.req" "$corpus/revoked.resp"
    # answer CHOICE REQUEST RESPONSE: the choice, the nonce extension through
    # all getters, the nonce of the request, and the answer.
    answer() {
      local hex k
      hex=$(openssl ocsp -reqin "$2" -req_text 2>/dev/null | awk '/OCSP Nonce/ {getline; print $1}')
      printf "\\x$(printf %02x "$1")\\x18"
      for ((k = 4; k < 36; k += 2)); do printf "\\x${hex:k:2}"; done
      printf 'HTTP/1.0 200 OK\r\nContent-Type: application/ocsp-response\r\n\r\n'
      cat "$3"
    }
    # Every choice for the plain answer; the usual ones for the others.
    for ((choice = 0; choice < 128; choice += 2)); do
      answer $choice "$ocsp/good.req.der" "$ocsp/good.resp.der" > "$corpus/seed-good-$choice"
    done
    for choice in 34 42 44 46; do
      answer $choice "$ocsp/good.req.der" "$corpus/bykey.resp" > "$corpus/seed-bykey-$choice"
      answer $choice "$ocsp/good.req.der" "$corpus/nocerts.resp" > "$corpus/seed-nocerts-$choice"
      answer $choice "$corpus/revoked.req" "$corpus/revoked.resp" > "$corpus/seed-revoked-$choice"
    done
    rm "$corpus/revoked.req" "$corpus/"*.resp
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
    text="$fixtures/textapi"
    # seed NAME FAMILY VARIANT: the two choice bytes, then standard input.
    seed() { { printf "\\x$2\\x$3"; cat; } > "$corpus/seed-$1"; }
    for cert in "$text/"*.pem; do
      case "$cert" in *.key.pem|*.enc.pem|*.p8.pem) continue ;; esac
      for variant in 00 09 12 1b; do
        openssl x509 -in "$cert" -outform DER | seed "$(basename "$cert" .pem)-$variant" 00 $variant
      done
    done
    seed cert-text 08 00 < "$text/sign.pem"
    # Messages: openssl's signature with the content and one without it,
    # the signer info of the first, an envelope for the recipient.
    for variant in 00 02 13; do seed signed-$variant 01 $variant < "$objects/signed.p7.der"; done
    seed signed-text 09 02 < "$objects/signed.p7.pem"
    openssl smime -sign -binary -in "$objects/content.txt" -signer "$objects/user.pem" \
      -inkey "$objects/user.key.pem" -outform DER | seed detached 01 03
    signerinfo "$objects/signed.p7.der" | seed signer-info 02 00
    openssl smime -encrypt -binary -des3 -outform DER -in "$objects/content.txt" "$text/enc.pem" |
      seed envelope 03 00
    # Keys: for signing, for decrypting, and under the password.
    for variant in 00 01 02; do seed key-$variant 04 $variant < "$objects/user.rsa.pem"; done
    seed key-enc 04 01 < "$text/enc.key.pem"
    seed key-des3 0c 00 < "$objects/user.rsa.des3.pem"
    seed key-p8 0c 00 < "$objects/user.p8.pem"
    seed key-p8info 0c 02 < "$objects/user.p8info.pem"
    # PKCS#12 files whole, and the content of their authenticated safes.
    for variant in 00 01 02 03 04 0b; do
      seed full-$variant 05 $variant < "$text/full.p12"
      authsafe "$text/full.p12" | seed full-content-$variant 0d $variant
    done
    seed nokey 05 01 < "$text/nokey.p12"
    authsafe "$text/expired.p12" | seed expired-content 0d 03
    # Cipher text under a password: key and IV by PBKDF2-HMAC-SHA1 of
    # "secret", the target's first eight key bytes as salt and one round.
    derive() {
      openssl kdf -keylen "$1" -kdfopt digest:SHA1 -kdfopt pass:secret -kdfopt hexsalt:0123456789ABCDEF \
        -kdfopt iter:1 PBKDF2 | tr -d ':'
    }
    key=$(derive 32)
    openssl enc -aes-128-cbc -K "${key:0:32}" -iv "${key:32:32}" -in "$objects/content.txt" |
      { printf '\x05\x40\x08'; cat; } | seed password-aes 06 00
    openssl enc -aes-128-cbc -K "${key:0:32}" -iv A0A1A2A3A4A5A6A7A8A9AAABACADAEAF -in "$objects/content.txt" |
      { printf '\x85\x40\x08'; cat; } | seed password-aes-iv 06 00
    key=$(derive 32)
    openssl enc -des-ede3-cbc -K "${key:0:48}" -iv "${key:48:16}" -in "$objects/content.txt" |
      { printf '\x02\x40\x08'; cat; } | seed password-des3 06 00
    # Cipher text under the target's key and IV bytes.
    k=0123456789ABCDEFFEDCBA987654321089ABCDEF01234567
    openssl enc -des-ede3-cbc -K $k -iv A0A1A2A3A4A5A6A7 -in "$objects/content.txt" |
      { printf '\x02\x00\x18\x08'; cat; } | seed key-des3-cbc 07 00
    openssl enc -des-ede3 -K $k -in "$objects/content.txt" | { printf '\x12\x00\x18\x08'; cat; } |
      seed key-des3-ecb 07 00
    openssl enc -des-ede3-cbc -K "${k:0:32}${k:0:16}" -iv A0A1A2A3A4A5A6A7 -in "$objects/content.txt" |
      { printf '\x02\x00\x10\x08'; cat; } | seed key-des2-cbc 07 00
    openssl enc -des-cbc -provider legacy -provider default -K "${k:0:16}" -iv A0A1A2A3A4A5A6A7 \
      -in "$objects/content.txt" | { printf '\x01\x00\x08\x08'; cat; } | seed key-des-cbc 07 00 ;;
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
    signerinfo "$objects/signed.p7.der" | { printf '\x04'; cat; } > "$corpus/seed-signer-info"
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
    # Whole files, and the content of their authenticated safes (bit 2: the
    # target puts it into a file with a MAC). The low bits choose the password.
    i=0
    for pair in 2:aes.p12 2:legacy.p12 2:plain.p12 0:empty.p12 2:nomac.p12 2:keytool.p12; do
      sel=${pair%%:*} file="$fixtures/containers/${pair#*:}"
      [ -f "$file" ] || continue
      { printf "\\x$(printf %02x "$sel")"; cat "$file"; } > "$corpus/seed-$i"
      { printf "\\x$(printf %02x $((sel | 4)))"; authsafe "$file"; } > "$corpus/seed-content-$i"
      i=$((i + 1))
    done
    # The bags of a plain file inside a safe-contents bag.
    authsafe "$fixtures/containers/plain.p12" > "$corpus/plain.safe"
    offset=$(openssl asn1parse -inform DER -in "$corpus/plain.safe" | awk -F: '/d=3 .*OCTET STRING/ {print $1 + 0; exit}')
    openssl asn1parse -inform DER -in "$corpus/plain.safe" -strparse "$offset" -noout -out "$corpus/bags.der"
    { printf '\x06'
      { printf '\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x01'
        { printf '\x06\x0b\x2a\x86\x48\x86\xf7\x0d\x01\x0c\x0a\x01\x06'; der a0 < "$corpus/bags.der"; } |
          der 30 | der 30 | der 04 | der a0; } | der 30 | der 30; } > "$corpus/seed-nested"
    rm "$corpus/plain.safe" "$corpus/bags.der" ;;
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
    seeds=()
    # A serial text, a NUL, a CRL: serials the CRLs revoke, one they do not,
    # and texts that are no serial numbers.
    revoking="$fixtures/revocations/crl.der"
    for serial in 8F1234 ABC 0102 00000102 05 7E01 0a0b 3A4B5C 11 22 99 "" 0x05 "-05"; do
      { printf '%s\0' "$serial"; cat "$revoking"; } > "$corpus/seed-revoking-$serial"
    done
    { printf '1001\0'; cat "$objects/crl.der"; } > "$corpus/seed-objects"
    for crl in "$fixtures/keys/"crl.*.der; do
      { printf '01\0'; cat "$crl"; } > "$corpus/seed-$(basename "$crl")"
    done ;;
  cert_request)
    seeds=()
    # Every hash selector, one that is none, and the text form.
    for selector in 0 1 2 3 4 5 6 7; do
      { printf "\\x$(printf %02x $((selector << 1)))"; cat "$objects/user.csr.der"; } > "$corpus/seed-$selector"
    done
    { printf '\x09'; cat "$objects/user.csr.pem"; } > "$corpus/seed-text"
    for request in "$fixtures/keys/"req.*.der; do
      { printf '\x08'; cat "$request"; } > "$corpus/seed-$(basename "$request")"
    done ;;
  ocsp_request)
    seeds=()
    # Requests of openssl ocsp: without a nonce, with one, and signed with
    # the requestor's certificate.
    openssl ocsp -issuer "$objects/ca.pem" -cert "$objects/user.pem" -signer "$objects/user.pem" \
      -signkey "$objects/user.key.pem" -reqout "$corpus/signed.req" 2>/dev/null
    for request in "$objects/ocsp.req.der" "$fixtures/ocsp/good.req.der" "$corpus/signed.req"; do
      { printf '\x08\x03abc'; cat "$request"; } > "$corpus/seed-$(basename "$request")"
      { printf '\x60\x00'; cat "$request"; } > "$corpus/seed-critical-$(basename "$request")"
    done
    rm "$corpus/signed.req" ;;
  time_texts)
    seeds=()
    i=0
    for text in 20101231235959+0000 101231235959-0000 20101231235959+0900 991231235959+0130 \
                20500101000000-1200 491231235959+0000 20101331235959+0000 20101231235959Z 2010123123595 \
                20101231235959.123Z; do
      printf '%s' "$text" > "$corpus/seed-$i"
      i=$((i + 1))
    done ;;
  rsa_public_key)
    seeds=()
    # The modulus and exponent of a key the openssl tool made, as they are
    # and with a leading zero byte.
    modulus=$(openssl rsa -pubin -inform DER -in "$objects/user.pub.der" -modulus -noout | sed 's/^Modulus=//')
    bytes() { local k; for ((k = 0; k < ${#1}; k += 2)); do printf "\\x${1:k:2}"; done; }
    { bytes "$(printf %04X $((${#modulus} / 2)))$modulus"; printf '\x01\x00\x01'; } > "$corpus/seed-key"
    { bytes "$(printf %04X $((${#modulus} / 2 + 1)))00$modulus"; printf '\x00\x03'; } > "$corpus/seed-zero" ;;
  chain_crl)
    seeds=()
    chains="$fixtures/chains"
    for choice in 0 1 2 3 4 5 6 7 56 120; do
      { printf "\\x$(printf %02x "$choice")"; cat "$chains/crl.inter.der"; } > "$corpus/seed-inter-$choice"
    done
    for crl in "$chains/"crl.*.der; do
      { printf '\x0e'; cat "$crl"; } > "$corpus/seed-$(basename "$crl")"
    done ;;
  token_values)
    seeds=()
    # A token of the run's own, beside the corpus: the objects' certificate
    # and key pair under "fuzz" with CKA_ID 01, a data object, secret keys.
    token="$corpus.token"
    rm -rf "$token"
    mkdir -p "$token/tokens"
    printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n' \
      "$token/tokens" > "$token/softhsm2.conf"
    export SOFTHSM2_CONF="$token/softhsm2.conf"
    "$TQ_SOFTHSM_UTIL" --init-token --free --label fuzz --so-pin 87654321 --pin 123456 >/dev/null
    tool() { "$TQ_PKCS11_TOOL" --module "$TQ_SOFTHSM_MODULE" --token-label fuzz --login --pin 123456 "$@" >/dev/null; }
    tool --write-object "$objects/user.der" --type cert --label fuzz --id 01
    tool --write-object "$objects/user.key.pem" --type privkey --label fuzz --id 01
    tool --write-object "$objects/user.pub.der" --type pubkey --label fuzz --id 01
    tool --write-object "$objects/content.txt" --type data --label fuzz-data
    printf '0123456789abcdefghijklmn' > "$token/des3.bin"
    tool --write-object "$token/des3.bin" --type secrkey --key-type DES3:24 --label fuzz-des3
    tool --keygen --key-type AES:32 --label fuzz-aes
    # entry TYPE MODE FILE|LENGTH: one entry of the target's input, with the
    # file's bytes as its value or with a length alone.
    entry() {
      local n=$3
      [ -f "$3" ] && n=$(stat -c %s "$3")
      printf "\\x$1\\x$2\\x$(printf %02x $((n & 255)))\\x$(printf %02x $((n >> 8)))"
      [ -f "$3" ] && cat "$3"
      return 0
    }
    # Every reader as the token answers, then with values in place of the token's.
    for ((reader = 0; reader < 21; reader++)); do
      printf "\\x$(printf %02x $reader)" > "$corpus/seed-$reader"
    done
    printf 'a record value' > "$token/record"
    head -c 300 /dev/zero | tr '\0' L > "$token/label"
    { printf '\x00'; entry 05 00 "$objects/ca.der"; } > "$corpus/seed-cert-value"
    { printf '\x0c'; entry 05 00 "$objects/ca.der"; entry 04 01 0; } > "$corpus/seed-cert-handle"
    { printf '\x00'; entry 05 05 1; } > "$corpus/seed-cert-overstated"
    { printf '\x01'; entry 09 04 8; } > "$corpus/seed-modulus-query"
    { printf '\x02'; entry 04 02 0; } > "$corpus/seed-id-sensitive"
    { printf '\x09'; entry 01 00 "$token/label"; } > "$corpus/seed-long-label"
    { printf '\x09'; entry 01 03 0; } > "$corpus/seed-silent-label"
    { printf '\x0b'; entry 00 06 "$token/record"; } > "$corpus/seed-record"
    { printf '\x11'; entry 0a 00 "$token/record"; } > "$corpus/seed-exponent" ;;
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
