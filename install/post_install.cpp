// caKVILPostInstall and its rollback counterpart: the features' commands
// after the package's files are installed or removed.
#include "install/command_phase.h"

#include "runtime/guard.h"
#include "runtime/shared_data.h"

using namespace kvil;

namespace {

// The copy that caKVILWriteInfo left in TEMP brings the shared data file back
// only when something removed the file in the meantime. A present file is the
// one this installation wrote; the copy may be an earlier run's, and as
// LocalSystem TEMP is the system's, where any user can leave a file of that
// name. A link is never taken for the copy.
void restoreSharedDataFile(const Installer& installer)
{
    const std::string sharedFile = sharedDataFilePath();
    if (GetFileAttributesA(sharedFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
        installer.message("Shared data file present: the copy in TEMP is not used.");
        return;
    }
    const std::string copy = sharedDataCopyPath();
    const DWORD attributes = GetFileAttributesA(copy.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return;
    // Never over a file that appeared since the test above.
    if (CopyFileA(copy.c_str(), sharedFile.c_str(), TRUE))
        installer.message("Shared data file restored from " + copy);
}

}  // namespace

extern "C" UINT __stdcall caKVILPostInstall(MSIHANDLE handle)
{
    return guarded("caKVILPostInstall", handle, [](const Installer& installer) {
        restoreSharedDataFile(installer);
        return runCommandPhase(installer, "PostInstall", "PostUnInstall", false);
    });
}

extern "C" UINT __stdcall caKVILPostInstallRollback(MSIHANDLE handle)
{
    return guarded("caKVILPostInstallRollback", handle, [](const Installer& installer) {
        return runCommandPhase(installer, "PostInstall", "PostUnInstall", true);
    });
}
