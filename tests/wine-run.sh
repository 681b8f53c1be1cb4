#!/bin/sh
# Runs a Windows program of the build under Wine, in the build's scratch prefix (WINEPREFIX,
# set by CTest). Never falls back to ~/.wine.
if [ -z "$WINEPREFIX" ] || [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "wine-run.sh: WINEPREFIX must name a prepared scratch prefix" >&2
    exit 2
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
