#!/usr/bin/env bash
# Makes a SoftHSM2 token of the test's own holding the fixture user key, then
# runs the JVM (through run_jvm.sh) with that token's configuration.
set -euo pipefail
util=$1 tool=$2 module=$3
shift 3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n' \
  "$dir/tokens" >"$dir/softhsm2.conf"
export SOFTHSM2_CONF=$dir/softhsm2.conf
"$util" --init-token --free --label tqjava --so-pin 87654321 --pin 123456 >/dev/null
"$util" --import "$TQ_FIXTURES/objects/user.key.pem" --token tqjava --label userkey --id a1b2 --pin 123456 \
  >/dev/null
serial=$("$tool" --module "$module" -L | awk -F': *' '/token label/ { t = $2 } /serial num/ && t ~ /^tqjava/ { print $2; exit }')
[ -n "$serial" ] || { echo "pkcs11-tool lists no tqjava token"; exit 1; }
export TQ_P11_MODULE=$module TQ_P11_SERIAL=$serial TQ_PKCS11_TOOL=$tool
"$(dirname "$0")/run_jvm.sh" "$@"
