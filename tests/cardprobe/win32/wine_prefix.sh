#!/bin/sh
# Creates (setup) or removes (cleanup) the wine prefix of one test run.
# usage: wine_prefix.sh setup|cleanup PREFIX
# Setup is skipped (77) where the kernel cannot execute 32-bit programs: see wine_gate.sh.
set -eu
. "$(dirname "$0")/wine_gate.sh"
export WINEPREFIX="$2" WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
case "$1" in
  setup)
    wine_gate
    rm -rf "$WINEPREFIX"
    wineboot --init
    wineserver --wait
    ;;
  cleanup)
    [ -d "$WINEPREFIX" ] && wineserver --kill || true
    rm -rf "$WINEPREFIX"
    ;;
esac
