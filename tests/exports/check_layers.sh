#!/usr/bin/env bash
# check_layers.sh STAMP NAME OBJECT... -- NAME OBJECT... [-- ...]
# The named groups of objects are layers that must not call one another: no
# group may leave a symbol undefined that another group defines. Writes STAMP
# when they keep apart.
set -euo pipefail
stamp=$1; shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

groups=()
while [ $# -gt 0 ]; do
  name=$1; shift
  objects=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do objects+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  groups+=("$name")
  nm -P "${objects[@]}" 2>/dev/null | awk 'NF>=2 && $2 ~ /^[Uwv]$/ {print $1}' | sort -u >"$work/$name.undefined"
  nm -P --defined-only "${objects[@]}" 2>/dev/null | awk 'NF>=2 && $2 ~ /^[A-TV-Z]$/ {print $1}' | sort -u >"$work/$name.defined"
done

failed=0
for a in "${groups[@]}"; do
  for b in "${groups[@]}"; do
    [ "$a" = "$b" ] && continue
    crossing=$(comm -12 "$work/$a.undefined" "$work/$b.defined")
    if [ -n "$crossing" ]; then
      echo "layer '$a' calls into layer '$b':" >&2
      echo "$crossing" | sed 's/^/  /' >&2
      failed=1
    fi
  done
done
[ "$failed" = 0 ] || exit 1
touch "$stamp"
