#!/usr/bin/env bash
# check_boundaries.sh OBJECT...
# Every function with C linkage that an object defines (exported calls, JNI
# natives, routines OpenSSL or a module calls back) ends in a handler of
# core/base/boundary.h, which leaves the local marker
# _ZZ<length><name>E21tq_exception_boundary in the same object.
set -euo pipefail
missing=$(
  for object in "$@"; do
    # -l adds where each symbol is defined, where debug information says.
    nm -P -l --defined-only "$object" | awk -v object="$object" '
      # C linkage: not mangled, not made by the compiler (name.cold, the
      # module constructors of the sanitizers, _sub_I_00099_1), and not an
      # inline function of a system header that an unoptimised build keeps
      # out of line (OpenSSL has many).
      $2 ~ /^[TtWw]$/ && $1 !~ /^_Z/ && $1 !~ /[.]/ && $1 !~ /^_(GLOBAL__|sub_[ID]_)/ &&
        $NF !~ /^\/usr\// { functions[$1] = 1 }
      $1 ~ /^_ZZ[0-9]+[A-Za-z_][A-Za-z0-9_]*E21tq_exception_boundary$/ {
        name = $1; sub(/^_ZZ[0-9]+/, "", name); sub(/E21tq_exception_boundary$/, "", name)
        guarded[name] = 1
      }
      END { for (f in functions) if (!(f in guarded)) print object ": " f }'
  done | sort)
if [ -n "$missing" ]; then
  echo "functions with C linkage that do not end in a handler of boundary.h:" >&2
  echo "$missing" | sed 's/^/  /' >&2
  exit 1
fi
