// The final clean-up phase of caKVILFinalize: what a removed product left in
// its install folder, the product registration bookkeeping, the upgrade
// marker, the shared data file and the work folders.
#include "install/finalize.h"

#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/registry.h"
#include "runtime/shared_data.h"
#include "runtime/text.h"

#include <cctype>
#include <cstdio>

namespace kvil {

namespace {

const std::string kApplications = kApplicationsKey;
const std::string kKevana = kKevanaKey;

// "C:\x" or "\\server\share\x": a relative or drive-relative folder would
// put the old installation's folder names at the root of the current drive.
bool isAbsoluteFolder(const std::string& folder)
{
    bool drive = folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) &&
                 folder[1] == ':' && folder[2] == '\\';
    bool unc = folder.size() >= 3 && folder[0] == '\\' && folder[1] == '\\';
    return drive || unc;
}

void writeInstalledVersionMarker(const std::string& path)
{
    if (FILE* file = std::fopen(path.c_str(), "w")) {
        std::fputs("osia.installedversion=8.1.0\n", file);
        std::fclose(file);
    }
}

}  // namespace

void removeOldInstallation(const std::string& installFolder, const std::string& installerKind)
{
    static const char* const oldFolders[] = {
        "\\kva",  "\\xslroot", "\\wwwroot", "\\Oldiags", "\\SM",      "\\jre",     "\\apache-tomcat",
        "\\RAC4", "\\rac5",    "\\ivirk",   "\\ssa",     "\\dataeng", "\\shared",  "\\license_files"};
    std::string folder = installFolder;
    if (equalsNoCase(installerKind, "NODE") && folder.size() > 3 && isAbsoluteFolder(folder))
        for (const char* name : oldFolders)
            removeDirectoryTree(folder + name, true);
    if (folder.size() <= 3)
        return;
    if (folder.back() == '\\')
        folder.pop_back();
    RemoveDirectoryA(folder.c_str());
    for (;;) {
        size_t backslash = folder.rfind('\\');
        if (backslash == std::string::npos || backslash < 3)
            return;
        folder.erase(backslash);
        RemoveDirectoryA(folder.c_str());
        if (pathIsDirectory(folder))
            return;
    }
}

void runFinalCleanup(const FinalizeContext& context)
{
    if (equalsNoCase(context.installerKind, "NODE") &&
        !registryKeyExists(HKEY_LOCAL_MACHINE, kSystemsManagementKey))
        removeOldInstallation(context.installFolder, context.installerKind);

    const std::string marker = context.windowsFolder + "\\kvinstal.db";
    if (registryKeyExists(HKEY_LOCAL_MACHINE, kApplications + "\\Brenmoor") ||
        registryKeyExists(HKEY_LOCAL_MACHINE, kSystemsManagementKey)) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvessa");
        writeInstalledVersionMarker(marker);
    } else {
        for (const std::string& key : {kKevana + "\\Shared", kKevana + "\\PreReqChecks", kKevana,
                                       std::string("SOFTWARE\\Tavrin Computer Corporation")})
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
        DeleteFileA(marker.c_str());
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kKevana + "\\Installer1100X").c_str());
    DeleteFileA(sharedDataFilePath().c_str());
    DeleteFileA((context.windowsFolder + "\\kvil.txt").c_str());
    removeDirectoryTree(context.tempFolder, true);
    removeDirectoryTree(context.programFiles + "\\tempini", true);
    removeDirectoryTree(environmentVariable("SYSTEMDRIVE") + "\\tempini", true);
    DeleteFileA(sharedDataCopyPath().c_str());
}

}  // namespace kvil
