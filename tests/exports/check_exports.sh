#!/usr/bin/env bash
# Compares the dynamic symbols the library defines with the list of exported names.
set -euo pipefail
lib=$1
expected=$2
actual=$(nm -D --defined-only "$lib" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' | sort -u)
want=$(grep -E '^[A-Za-z_][A-Za-z0-9_]*$' "$expected" | sort -u)
if [ "$actual" != "$want" ]; then
  echo "exported names differ (< library, > list):"
  diff <(echo "$actual") <(echo "$want") || true
  exit 1
fi
echo "$(echo "$want" | wc -l) names exported, as listed"
