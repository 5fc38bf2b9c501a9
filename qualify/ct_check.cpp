// caKVILCTCheck: flags a 32-bit process running on 64-bit Windows.
#include "runtime/guard.h"
#include "runtime/os_version.h"

using namespace kvil;

extern "C" UINT __stdcall caKVILCTCheck(MSIHANDLE handle)
{
    return guarded("caKVILCTCheck", handle, [](const Installer& installer) -> UINT {
        // Never written as "NO": a value the package preset stays.
        if (runningUnderWow64())
            installer.setProperty("CP_WINDOWSCT", "YES");
        return ERROR_SUCCESS;
    });
}
