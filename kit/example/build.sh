#!/bin/sh
# Builds example.msi from product.wxs and the kit with wixl (msitools), then
# mends what wixl gets wrong (mend.py: the custom action types and negative
# sequence numbers as the kit and product.wxs declare them, the ISSetupFile
# table).
# Usage, from anywhere:  sh kit/example/build.sh [SUPPORT_FOLDER]
# SUPPORT_FOLDER holds the support files the package carries: the vendor
# support library KVIL64.dll, PNPDRVR32.DLL, hwlist.ini, legadp.ini and the
# feature command files. Without it the release's testing/ folder is taken,
# whose simulated files are for testing only and never to be shipped.
# Writes example.msi and example.msi.log (every tool's output) here.
set -e
here=$(cd "$(dirname "$0")" && pwd)
release=$(cd "$here/../.." && pwd)
support=${1:-$release/testing}
support=$(cd "$support" && pwd)
log="$here/example.msi.log"
fail() {
  echo "build: $1; the end of $log:" >&2
  tail -n 30 "$log" >&2
  exit 1
}
: >"$log"
# wixl takes the DLLs' paths relative to the folder it runs in.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/product.wxs" "$release/kit/wix3/"*.wxi "$release/KVILMSI64.dll" "$release/kit/kvilsupport.dll" "$work/"
echo "== wixl" >>"$log"
(cd "$work" && wixl -a x64 -o example.msi -D KVILMSI64Dll=KVILMSI64.dll \
   -D KVILSupportDll=kvilsupport.dll product.wxs) >>"$log" 2>&1 || fail "wixl failed"
python3 "$here/mend.py" "$work/example.msi" "$support" "$work/product.wxs" "$release/kit/wix3/"*.wxi >>"$log" 2>&1 ||
  fail "mending the package failed"
cat "$work/example.msi.log" >>"$log"
echo "== the key caKVILFinalize records, removed with the component Core" >>"$log"
msibuild "$work/example.msi" -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('TavrinKVA', 2, 'SOFTWARE\\Tavrin Computer Corporation\\Tavrin KVA', '-', 'Core')" \
  >>"$log" 2>&1 || fail "adding the removal of the key Tavrin KVA failed"
mv "$work/example.msi" "$here/example.msi"
echo "$here/example.msi"
