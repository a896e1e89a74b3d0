#!/bin/sh
# Runs a Windows test program under 32-bit wine, headless, in the given prefix.
# usage: run_wine.sh PREFIX RUNDIR FILE... -- PROGRAM
#   FILEs are copied into RUNDIR beside PROGRAM (the DLLs it loads).
# Skipped (77) where the kernel cannot execute 32-bit programs: see wine_gate.sh.
set -eu
. "$(dirname "$0")/wine_gate.sh"
wine_gate
prefix=$1 rundir=$2; shift 2
rm -rf "$rundir"; mkdir -p "$rundir"
while [ "$1" != "--" ]; do cp "$1" "$rundir/"; shift; done
shift
program=$1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win32
# Our winscard.dll, not wine's; no runtime installers; no display.
export WINEDLLOVERRIDES="winscard=n;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cd "$rundir"
exec wine "$program"
