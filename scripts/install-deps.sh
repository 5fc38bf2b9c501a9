#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need.
set -e
packages="g++-mingw-w64-x86-64-posix wine64 xvfb xauth msitools wixl googletest cmake ninja-build"
missing=""
for package in $packages; do
  dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
if [ -n "$missing" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi
