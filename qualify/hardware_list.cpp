#include "qualify/hardware_list.h"

#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/installer.h"

#include <windows.h>

namespace kvil {

namespace {
const char* const kHardwareList = "hwlist.ini";
}

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
    // The library gets a copy in the work folder, not the file in SUPPORTDIR;
    // whether the folder and the copy could be made shows in the test below.
    const std::string folder = workFolder();
    directoryIsWritable(folder);
    const std::string copy = folder + "\\" + kHardwareList;
    CopyFileA((supportFolder + "\\" + kHardwareList).c_str(), copy.c_str(), FALSE);
    if (supportFolderRead && pathIsFile(copy))
        return copy;

    std::string sourceFolder;
    const bool sourceFolderRead = installer.readProperty("SourceDir", sourceFolder);
    const std::string besideSource = sourceFolder + "\\" + kHardwareList;
    if (sourceFolderRead && pathIsFile(besideSource))
        return besideSource;

    // Last resort, unchecked: beside the package the installation started from.
    std::string database = installer.property("OriginalDatabase");
    if (database.empty())
        return std::string();
    const size_t lastSlash = database.find_last_of('\\');
    if (lastSlash != std::string::npos && lastSlash > 0)
        database.erase(lastSlash);
    return database + "\\" + kHardwareList;
}

}  // namespace kvil
