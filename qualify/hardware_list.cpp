#include "qualify/hardware_list.h"

#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/installer.h"

#include <windows.h>

namespace kvil {

namespace {

const char* const kHardwareList = "hwlist.ini";

// Beside the package's source, else beside the package the installation
// started from; empty when neither holds the file.
std::string fallbackHardwareList(const Installer& installer)
{
    std::string sourceFolder;
    const bool sourceFolderRead = installer.readProperty("SourceDir", sourceFolder);
    const std::string besideSource = sourceFolder + "\\" + kHardwareList;
    if (sourceFolderRead && pathIsFile(besideSource))
        return besideSource;

    std::string database = installer.property("OriginalDatabase");
    if (database.empty())
        return std::string();
    const size_t lastSlash = database.find_last_of('\\');
    if (lastSlash != std::string::npos && lastSlash > 0)
        database.erase(lastSlash);
    const std::string besideDatabase = database + "\\" + kHardwareList;
    return pathIsFile(besideDatabase) ? besideDatabase : std::string();
}

}  // namespace

std::string workFolder()
{
    return environmentVariable("ProgramFiles") + "\\tempini";
}

std::string hardwareListPath(const Installer& installer)
{
    std::string supportFolder;
    const bool supportFolderRead = installer.readProperty("SUPPORTDIR", supportFolder);
    return hardwareListPath(installer, supportFolder, supportFolderRead);
}

std::string hardwareListPath(const Installer& installer, const std::string& supportFolder,
                             bool supportFolderRead)
{
    // The library gets this run's copy in the work folder, never one that an
    // earlier run left there.
    const std::string folder = workFolder();
    directoryIsWritable(folder);
    const std::string source = supportFolder + "\\" + kHardwareList;
    const std::string copy = folder + "\\" + kHardwareList;
    DWORD copyError = copyOver(source, copy);
    if (supportFolderRead && copyError == 0)
        return copy;
    if (copyError == 0)
        copyError = ERROR_FILE_NOT_FOUND;

    // A list that SUPPORTDIR holds but could not be staged is a failure even
    // where a fallback stands in; a package without any list is one too.
    const std::string found = fallbackHardwareList(installer);
    if (pathIsFile(source) || found.empty())
        installer.message(couldNotStage(source, copyError));
    return found;
}

}  // namespace kvil
