#!/bin/sh
# Creates the Wine prefix the tests run in. Usage: make-prefix.sh <folder>
set -e
prefix="$1"
export WINEPREFIX="$prefix" WINEDEBUG=-all LC_ALL=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
wine wineboot -i >/dev/null 2>&1
# Without a window manager each message box would take ~2 s to map.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.kvil-ready"
