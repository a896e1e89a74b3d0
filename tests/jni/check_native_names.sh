#!/usr/bin/env bash
# The natives the Java class declares, by their JNI names, against what the
# library exports under the class's prefix; and no load hook.
set -euo pipefail
java=$1
classes=$2
lib=$3
expected=$4
prefix=Java_com_vandrelot_crypto_WKP11Crypt_
declared=$("$java" -cp "$classes" tq.jnitest.NativeNames | sort -u)
exported=$(nm -D --defined-only "$lib" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' | grep "^$prefix" | sort -u || true)
status=0
if [ "$declared" != "$exported" ]; then
  echo "natives differ (< declared by the class, > exported):"
  diff <(echo "$declared") <(echo "$exported") || true
  status=1
fi
if nm -D --defined-only "$lib" | awk '{ print $NF }' | grep -qE '^JNI_On(Load|Unload)'; then
  echo "the library has a JNI load hook"
  status=1
fi
count=$(echo "$declared" | wc -l)
echo "$count natives declared"
if [ "$count" -ne "$expected" ]; then
  echo "the class declares $count natives, not $expected"
  status=1
fi
exit $status
