#!/usr/bin/env bash
# check_wiping.sh SOURCE_DIR
# The library clears memory in one place, the wiping owner of core/base:
# no other source of the library calls a cleanse of its own.
set -euo pipefail
top=$1
found=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.c' \
  '\b(OPENSSL_cleanse|explicit_bzero|memset_s)\b' "$top/core" "$top/p11" "$top/jni" "$top/include" |
  grep -v "^$top/core/base/wiping.h:" || true)
if [ -n "$found" ]; then
  echo "memory cleared outside core/base/wiping.h:" >&2
  echo "$found" | sed 's/^/  /' >&2
  exit 1
fi
