// caKVILSetFirstTimeInstall: classifies the run against the version an
// installed copy recorded: blocked 32-bit upgrade, same version, downgrade
// (stopped), major upgrade or first installation.
#include "qualify/first_time_install.h"

#include "runtime/environment.h"
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/registry.h"
#include "runtime/text.h"

namespace kvil {

namespace {

struct VersionTriple {
    int major, minor, last;
};

int digitAfter(const std::string& version, size_t dot)
{
    const size_t at = dot == std::string::npos ? 0 : dot + 1;
    if (at >= version.size())
        return 0;
    const char c = version[at];
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

VersionTriple triple(const std::string& version)
{
    return {leadingInteger(version), digitAfter(version, version.find('.')),
            digitAfter(version, version.rfind('.'))};
}

}  // namespace

bool packageVersionIsNewer(const std::string& installedVersion, const std::string& packageVersion)
{
    const VersionTriple installed = triple(installedVersion);
    const VersionTriple package = triple(packageVersion);
    if (installed.major < package.major)
        return true;
    if (installed.major == package.major && installed.minor < package.minor)
        return true;
    return installed.major == package.major && installed.minor == package.minor &&
           installed.last < package.last;
}

}  // namespace kvil

using namespace kvil;

namespace {

// "NULL" when the 32-bit key cannot be opened, empty when its value cannot be
// read.
std::string version32()
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSystemsManagementKey, 0, KEY_READ | KEY_WOW64_32KEY,
                      key.receive()) != ERROR_SUCCESS)
        return "NULL";
    char buffer[1024 + 1] = {};
    DWORD size = 1024;
    if (RegQueryValueExA(key.get(), "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS)
        return std::string();
    return buffer;
}

UINT firstTimeSettings(const Installer& installer, const std::string& installerType,
                       const std::string& installedVersion)
{
    installer.setProperty("CP_FIRSTTIMEINSTALL", "YES");
    if (equalsNoCase(installerType, "NODE") &&
        registryKeyExists(HKEY_LOCAL_MACHINE, std::string(kKevanaKey) + "\\BLOCKKVINSTALL4XMN"))
        installer.setProperty("CP_BLOCKINSTALL", "1");
    if (installedVersion.empty())
        installer.setProperty("CP_IMPORTKVSAPREFERENCES", "YES");
    return ERROR_SUCCESS;
}

UINT setFirstTimeInstall(const Installer& installer)
{
    const std::string installerType = installer.property("CP_INSTALLER");
    const std::string packageVersion = installer.property("ProductVersion");
    installer.setProperty("MSIRESTARTMANAGERCONTROL", "Disable");
    const std::string installedVersion =
        readRegistryString(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "Version");
    DeleteFileA((environmentVariable("WINDIR") + "\\invcol.tmp").c_str());
    installer.setProperty("ALLUSERS", "1");

    if (version32() != "NULL") {
        installer.setProperty("CP_BLOCKx32_UPGRADE", "YES");
        return ERROR_SUCCESS;
    }

    if (packageVersion.empty() || installedVersion.empty())
        return firstTimeSettings(installer, installerType, installedVersion);
    if (equalsNoCase(packageVersion, installedVersion))
        return ERROR_SUCCESS;  // maintenance or reinstall of the same version
    if (!packageVersionIsNewer(installedVersion, packageVersion) && packageVersion.size() <= 6) {
        if (installer.uiLevel() == 5)
            localisedBox(installer, 2027, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }

    installer.setProperty("CP_UPGRADEFLAG", "YES");
    installer.setProperty("CP_DOINGMAJORUPGRADE", "YES");
    const std::string installedPath =
        readRegistryString(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "InstallPath");
    if (!installedPath.empty())
        installer.setProperty("INSTALLDIR", installedPath);
    std::string patch;
    if (installer.readProperty("PATCH", patch) && !patch.empty())
        installer.setProperty("REINSTALL", "ALL");
    return firstTimeSettings(installer, installerType, installedVersion);
}

}  // namespace

extern "C" UINT __stdcall caKVILSetFirstTimeInstall(MSIHANDLE handle)
{
    return guarded("caKVILSetFirstTimeInstall", handle, setFirstTimeInstall);
}
