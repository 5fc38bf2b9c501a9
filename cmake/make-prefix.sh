#!/bin/sh
# Creates the Wine prefix the tests run in. Usage: make-prefix.sh <folder>
# Each step's output goes to <folder>.log; a failing step names itself and
# shows the tail of that log.
set -e
prefix="$1"
log="$prefix.log"
export WINEPREFIX="$prefix" WINEDEBUG=-all LC_ALL=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
: >"$log"
step() {
  description="$1"; shift
  echo "== $description: $*" >>"$log"
  if ! "$@" >>"$log" 2>&1; then
    echo "make-prefix: $description failed ($*); the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}
for tool in wine wineserver; do
  command -v "$tool" >/dev/null 2>&1 || { echo "make-prefix: '$tool' is not on the PATH (Debian package 'wine'; run scripts/install-deps.sh)" >&2; exit 1; }
done
step "creating the prefix" wine wineboot -i
# Without a window manager each message box would take ~2 s to map.
step "unmanaging windows" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
# Drive letters of the kinds an install folder must not be on: R: removable,
# S: CD-ROM, T: network (each a plain folder; the type comes from the registry).
for drive in r:floppy s:cdrom t:network; do
  letter="${drive%%:*}"
  mkdir -p "$prefix/drives/$letter"
  ln -sfn "../drives/$letter" "$prefix/dosdevices/$letter:"
  step "making $letter: a ${drive#*:} drive" wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d "${drive#*:}" /f
done
step "waiting for the wineserver" wineserver -w
touch "$prefix/.kvil-ready"
