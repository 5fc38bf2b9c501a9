// caKVILPostInstall and its rollback counterpart: the features' commands
// after the package's files are installed or removed.
#include "install/command_phase.h"

#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/handles.h"
#include "runtime/shared_data.h"

using namespace kvil;

namespace {

// The bytes of a plain file, read through a handle to the name itself: false
// for a missing file, a folder, a link (a reparse point), or a name that
// shares its file with another (a hard link). One handle for the test and the
// read, so the name cannot be swapped in between.
bool readPlainFile(const std::string& path, std::string& content)
{
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!file || !GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        information.nNumberOfLinks != 1)
        return false;
    content = readToEnd(file.get());
    return true;
}

// Never over a file (or link) that appeared since the caller looked.
DWORD writeNewFile(const std::string& path, const std::string& content)
{
    return writeWholeFile(path, content, CREATE_NEW, 0);
}

// The copy that caKVILWriteInfo left in TEMP brings the shared data file back
// only when something removed the file in the meantime. A present file is the
// one this installation wrote; the copy may be an earlier run's, and as
// LocalSystem TEMP is the system's, where any user can leave a file of that
// name, or a link to a file he could not read himself. False when the copy
// was to be restored and could not be written whole.
bool restoreSharedDataFile(const Installer& installer)
{
    const std::string sharedFile = sharedDataFilePath();
    if (GetFileAttributesA(sharedFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
        installer.message("Shared data file present: the copy in TEMP is not used.");
        return true;
    }
    const std::string copy = sharedDataCopyPath();
    std::string content;
    if (!readPlainFile(copy, content))
        return true;
    if (const DWORD error = writeNewFile(sharedFile, content)) {
        installer.message(couldNotWrite(sharedFile, error));
        return false;
    }
    installer.message("Shared data file restored from " + copy);
    return true;
}

}  // namespace

extern "C" UINT __stdcall caKVILPostInstall(MSIHANDLE handle)
{
    return guarded("caKVILPostInstall", handle, [](const Installer& installer) {
        if (!restoreSharedDataFile(installer))
            return static_cast<UINT>(ERROR_INSTALL_FAILURE);
        return runCommandPhase(installer, "PostInstall", "PostUnInstall", false);
    });
}

extern "C" UINT __stdcall caKVILPostInstallRollback(MSIHANDLE handle)
{
    return guarded("caKVILPostInstallRollback", handle, [](const Installer& installer) {
        return runCommandPhase(installer, "PostInstall", "PostUnInstall", true);
    });
}
