#!/usr/bin/env bash
# check_layers.sh STAMP EXPORTS NAME RULES OBJECT... -- NAME RULES OBJECT... [-- ...]
# Each named group of objects is a layer. A layer may leave undefined a
# symbol that another layer defines only as its RULES allow: a comma list of
# LAYER=all (any symbol of that layer), LAYER=exports (the names listed in
# EXPORTS, one a line) or LAYER=interface:NAMESPACE (the exported names and
# the C++ symbols of that namespace); "-" allows nothing. Writes STAMP when
# every layer keeps to its rules.
set -euo pipefail
stamp=$1
exports=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
grep -E '^[A-Za-z_][A-Za-z0-9_]*$' "$exports" | sort -u >"$work/exported"

groups=()
while [ $# -gt 0 ]; do
  name=$1
  rules=$2
  shift 2
  objects=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do objects+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  groups+=("$name")
  echo "$rules" >"$work/$name.rules"
  nm -P "${objects[@]}" 2>/dev/null | awk 'NF>=2 && $2 ~ /^[Uwv]$/ {print $1}' | sort -u >"$work/$name.undefined"
  nm -P --defined-only "${objects[@]}" 2>/dev/null | awk 'NF>=2 && $2 ~ /^[A-TV-Z]$/ {print $1}' | sort -u >"$work/$name.defined"
done

# The rule of layer $1 for calls into layer $2, or nothing.
rule_for() {
  tr ',' '\n' <"$work/$1.rules" | sed -n "s/^$2=//p"
}

failed=0
for a in "${groups[@]}"; do
  for b in "${groups[@]}"; do
    [ "$a" = "$b" ] && continue
    comm -12 "$work/$a.undefined" "$work/$b.defined" >"$work/calls"
    rule=$(rule_for "$a" "$b")
    case "$rule" in
    all) : >"$work/calls" ;;
    exports) comm -23 "$work/calls" "$work/exported" >"$work/kept" && mv "$work/kept" "$work/calls" ;;
    interface:*)
      namespace=${rule#interface:}
      comm -23 "$work/calls" "$work/exported" |
        { grep -Ev "^_ZN[KVr]*${#namespace}${namespace}" || true; } >"$work/kept"
      mv "$work/kept" "$work/calls"
      ;;
    "") ;;
    *)
      echo "layer '$a': unknown rule '$rule' for layer '$b'" >&2
      exit 2
      ;;
    esac
    if [ -s "$work/calls" ]; then
      echo "layer '$a' calls into layer '$b' beyond what it may use:" >&2
      c++filt <"$work/calls" | sed 's/^/  /' >&2
      failed=1
    fi
  done
done
[ "$failed" = 0 ] || exit 1
touch "$stamp"
