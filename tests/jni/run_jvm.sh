#!/usr/bin/env bash
# Runs a JVM (with the sanitizer runtime preloaded when one is given) and
# fails on any line the JVM's JNI checks print, whatever the exit status.
set -uo pipefail
preload=$1
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ -n "$preload" ]; then
  LD_PRELOAD=$preload "$@" >"$log" 2>&1
else
  "$@" >"$log" 2>&1
fi
status=$?
cat "$log"
if grep -qE '^(WARNING|FATAL ERROR)|WARNING in native method|JNI (DetachCurrentThread|call made)' "$log"; then
  echo "the JVM's JNI checks reported the lines above"
  exit 1
fi
exit $status
