#!/bin/sh
# The wine scripts skip only where the kernel refuses 32-bit programs, and
# fail, not skip, when the probe runs and fails. The refusing kernel is stood
# in for by a file of no known format: every kernel refuses it with ENOEXEC.
# usage: wine_gate_test.sh EXEC_CHECK I386_PROBE WORKDIR
set -u
check=$1 probe=$2 work=$3
here=$(dirname "$0")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"; mkdir -p "$work"
printf '\000\000\000\000' >"$work/no-format"
chmod +x "$work/no-format"
export CARDPROBE_EXEC_CHECK="$check"

# expect STATUS PROBE WHAT COMMAND...: the status and, for a skip, the reason.
expect() {
  want=$1 CARDPROBE_I386_PROBE=$2 what=$3; shift 3
  export CARDPROBE_I386_PROBE
  out=$("$@" 2>&1); got=$?
  [ "$got" -eq "$want" ] || fail "$what: status $got, expected $want; output: $out"
  if [ "$want" -eq 77 ]; then
    case $out in
      *"skipped: "*"does not execute 32-bit programs"*"Exec format error"*) ;;
      *) fail "$what: no reason given: $out" ;;
    esac
  fi
}

expect 77 "$work/no-format" "prefix setup, format refused" "$here/wine_prefix.sh" setup "$work/prefix"
[ ! -e "$work/prefix" ] || fail "prefix setup went on after the skip"
expect 77 "$work/no-format" "wine run, format refused" \
  "$here/run_wine.sh" "$work/prefix" "$work/run" -- program.exe
[ ! -e "$work/run" ] || fail "wine run went on after the skip"

# A probe that runs and fails is a fault of this machine, not a skip.
expect 1 /bin/false "prefix setup, probe fails" "$here/wine_prefix.sh" setup "$work/prefix"
expect 1 /bin/false "wine run, probe fails" "$here/run_wine.sh" "$work/prefix" "$work/run" -- program.exe
expect 1 "$work/missing" "wine run, probe missing" "$here/run_wine.sh" "$work/prefix" "$work/run" -- x.exe

# The real probe is well formed: it runs, or this kernel refuses its format.
"$check" "$probe"; status=$?
case $status in
  0) echo "this kernel executes 32-bit programs: the wine tests run" ;;
  77) echo "this kernel does not execute 32-bit programs: the wine tests are skipped" ;;
  *) fail "the 32-bit probe neither ran nor was refused (status $status)" ;;
esac

rm -rf "$work"
[ "$failures" -eq 0 ]
