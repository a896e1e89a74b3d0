#!/usr/bin/env bash
# check_export_homes.sh SOURCE_DIR OBJECT_LIST
# Each exported name is defined in the folder whose list names it: the list
# core/keys/exports/keys.txt names only what objects of core/keys/ define.
# OBJECT_LIST holds the library's objects, one path a line.
set -euo pipefail
src=$1
objects=$2
astray=$(
  {
    while read -r object; do
      [ -n "$object" ] || continue
      folder=${object#*.dir/}
      nm -P --defined-only "$object" | awk -v folder="${folder%/*}" '$2 ~ /^[TDRBW]$/ { print "defined", $1, folder }'
    done <"$objects"
    cd "$src"
    for list in core/*/exports/*.txt p11/*/exports/*.txt jni/exports/*.txt; do
      grep -E '^[A-Za-z_][A-Za-z0-9_]*$' "$list" | sed "s|^|listed $list |"
    done
  } | awk '
    $1 == "defined" {
      if ($2 in where) where[$2] = where[$2] " " $3
      else where[$2] = $3
      next
    }
    {
      home = $2
      sub(/\/exports\/[^\/]*$/, "", home)
      if (where[$3] != home) print $2 ": " $3 " is defined in " ($3 in where ? where[$3] : "no object")
    }' | sort
)
if [ -n "$astray" ]; then
  echo "exported names defined outside the folder of their list:" >&2
  echo "$astray" | sed 's/^/  /' >&2
  exit 1
fi
echo "every exported name is defined in the folder of its list"
