#!/bin/sh
# Creates (setup) or removes (cleanup) the wine prefix of one test run.
# usage: wine_prefix.sh setup|cleanup PREFIX
set -eu
export WINEPREFIX="$2" WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
case "$1" in
  setup)
    rm -rf "$WINEPREFIX"
    wineboot --init
    wineserver --wait
    ;;
  cleanup)
    [ -d "$WINEPREFIX" ] && wineserver --kill || true
    rm -rf "$WINEPREFIX"
    ;;
esac
