#!/bin/sh
# Puts what a packager takes from one build into the folder STAGE, unsigned:
# KVILMSI64.dll; kit/ with kvilsupport.dll, the kits in their WiX v3 and v4
# forms and the example package; testing/ with the simulated support files.
# scripts/release.sh signs the DLLs and adds the README, the report tool and
# SHA256SUMS; the end-to-end test of the example builds from this alone.
# Usage: scripts/stage-release.sh BUILD/bin STAGE
set -e
[ $# -eq 2 ] || { echo "usage: scripts/stage-release.sh BUILD/bin STAGE" >&2; exit 2; }
bin=$(cd "$1" && pwd)
stage=$2
cd "$(dirname "$0")/.."
mkdir -p "$stage/kit/wix3" "$stage/kit/wix4" "$stage/kit/example" "$stage/testing"
cp "$bin/KVILMSI64.dll" "$stage/"
cp "$bin/kvilsupport.dll" "$stage/kit/"
cp kit/wix3/*.wxi "$stage/kit/wix3/"
cp kit/wix4/*.wxi "$stage/kit/wix4/"
cp kit/example/product.wxs kit/example/build.sh kit/example/mend.py "$stage/kit/example/"
python3 package/build-package.py "$bin" "$stage/testing" --support-files-only \
  --profile package/profiles/default.ini
cat >"$stage/testing/README.txt" <<'NOTE'
FOR TESTING ONLY: never ship these files.

KVIL64.dll and PNPDRVR32.DLL here are simulations of the vendor support
library and the driver installer: they answer from the machine profile
kvilsim.ini (a supported rack server) and run nothing but the echo lines of
the command files. hwlist.ini, legadp.ini and the command files are samples.
kit/example/build.sh takes this folder when given no other; a package that
ships must carry the vendor's own files instead.
NOTE
