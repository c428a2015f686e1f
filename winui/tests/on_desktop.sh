#!/bin/sh
# Runs a Windows program that opens windows under Wine, on a virtual X
# server of its own (xvfb-run) and in a Wine prefix of its own, so that
# its desktop, focus and wineserver are its alone whatever else runs. The
# prefix's wineserver is ended before the X server goes.
# Usage: on_desktop.sh WINEPREFIX WINE64 WINESERVER PROGRAM [ARGUMENTS...]
set -eu
if [ "${1:-}" = --inside ]; then
  shift
  server=$1
  shift
  status=0
  "$@" || status=$?
  "$server" -k 2>/dev/null || true
  "$server" -w 2>/dev/null || true
  exit $status
fi
prefix=$1 wine=$2 server=$3
shift 3
# No sound drivers: a message box's beep would wait for a sound device.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv="
mkdir -p "$prefix"
exec xvfb-run --auto-servernum --server-args="-screen 0 1600x1200x24" "$0" --inside "$server" "$wine" "$@"
