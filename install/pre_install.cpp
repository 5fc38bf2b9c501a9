// caKVILPreInstall and its rollback counterpart: the features' commands
// before the package's files are installed or removed. The rollback also
// clears what the installation left in the support and temporary folders.
#include "install/command_phase.h"

#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/shared_data.h"

using namespace kvil;

extern "C" UINT __stdcall caKVILPreInstall(MSIHANDLE handle)
{
    return guarded("caKVILPreInstall", handle, [](const Installer& installer) {
        return runCommandPhase(installer, "PreInstall", "PreUnInstall", false);
    });
}

extern "C" UINT __stdcall caKVILPreInstallRollback(MSIHANDLE handle)
{
    return guarded("caKVILPreInstallRollback", handle, [](const Installer& installer) {
        UINT result = runCommandPhase(installer, "PreInstall", "PreUnInstall", true);

        // The support folder's own files only; what cannot go now (the
        // library may still be held) goes at the next restart.
        // runCommandPhase has said whether the stored values can be read.
        const std::string supportFolder = storedValue("SUPPORTDIR");
        if (!supportFolder.empty()) {
            removeDirectoryTree(supportFolder, false);
            if (pathIsDirectory(supportFolder)) {
                removeAtRestart(supportFolder + "\\KVIL64.dll");
                removeAtRestart(supportFolder);
            }
        }
        const std::string tempFolder = storedValue("CP_TEMPDIR");
        if (!tempFolder.empty())
            removeDirectoryTree(tempFolder, true);
        DeleteFileA(sharedDataFilePath().c_str());
        return result;
    });
}
