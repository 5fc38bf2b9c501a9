// caKVILPostInstall and its rollback counterpart: the features' commands
// after the package's files are installed or removed.
#include "install/command_phase.h"

#include "runtime/guard.h"
#include "runtime/shared_data.h"

using namespace kvil;

extern "C" UINT __stdcall caKVILPostInstall(MSIHANDLE handle)
{
    return guarded("caKVILPostInstall", handle, [](const Installer& installer) {
        // The copy that caKVILWriteInfo left in TEMP brings the shared data
        // file back if something removed it in the meantime.
        const std::string copy = sharedDataCopyPath();
        CopyFileA(copy.c_str(), sharedDataFilePath().c_str(), FALSE);
        return runCommandPhase(installer, "PostInstall", "PostUnInstall", false);
    });
}

extern "C" UINT __stdcall caKVILPostInstallRollback(MSIHANDLE handle)
{
    return guarded("caKVILPostInstallRollback", handle, [](const Installer& installer) {
        return runCommandPhase(installer, "PostInstall", "PostUnInstall", true);
    });
}
