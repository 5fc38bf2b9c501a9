#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need. Every
# program the scripts, CMake files and tests run comes from one of these or
# from the packages a fresh Debian 12 machine has:
#   cmake, ninja-build          the build            g++-mingw-w64-x86-64-posix  compilers, windres, objdump
#   wine, wine64                wine, wineboot, wineserver, msiexec (wine64 alone has only the loader)
#   xvfb                        xvfb-run, Xvfb       xauth                       xvfb-run's cookie
#   msitools, wixl              msiinfo, msibuild, wixl                          googletest  the test framework
#   imagemagick                 import (the screenshot of the full-interface run); python3 (fresh machine) runs the package scripts
#   openssl, osslsigncode, git  (fresh machine) the release's signature, its check and the reproducibility check
#   locales, fonts-vlgothic     the Japanese full-interface run: Wine takes the ANSI code page (932) from
#                               the ja_JP.UTF-8 locale, and the dialog needs a font with Japanese glyphs
#   python3-venv, python3-setuptools, python3-wheel
#                               the report's test installs it with pip into a virtual environment, offline
#                               (--no-build-isolation: setuptools builds it, with wheel's bdist_wheel)
# Packages named as arguments are installed too (the benchmark adds gnuplot-nox).
set -e
packages="g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth msitools wixl googletest cmake ninja-build imagemagick locales fonts-vlgothic python3-venv python3-setuptools python3-wheel $*"
missing=""
for package in $packages; do
  # A removed package whose configuration files remain still answers dpkg -s;
  # only "install ok installed" counts.
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  log=$(mktemp /tmp/kvil-install-deps.XXXXXX.log)
  if ! { apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing; } >"$log" 2>&1; then
    echo "install-deps: installing$missing failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
fi
# The locale of a Japanese system, generated once.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  echo "Generating the locale ja_JP.UTF-8"
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
  log=$(mktemp /tmp/kvil-locale-gen.XXXXXX.log)
  if ! locale-gen >"$log" 2>&1; then
    echo "install-deps: locale-gen failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
fi
