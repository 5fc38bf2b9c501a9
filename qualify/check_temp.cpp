// caKVILCheckTEMP: makes sure the user's TEMP folder can be written and
// publishes the work folder below it, checks that the support files were
// extracted, imports the settings an earlier installation recorded, and sets
// the switches for the OS check and the icon.
#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/os_version.h"
#include "runtime/registry.h"
#include "runtime/text.h"

#include <algorithm>
#include <vector>

using namespace kvil;

namespace {

const char* const kRecordedSettingsKey =
    "Software\\Tavrin Computer Corporation\\Kevana\\Installer1101X";

UINT fail(const Installer& installer, int textId)
{
    if (installer.uiLevel() == 5)
        localisedBox(installer, textId, MB_OK | MB_ICONERROR);
    return ERROR_INSTALL_FAILURE;
}

// Every value of the key becomes the property of the same name, its data taken
// as a zero-terminated string whatever its type. The buffers are sized from
// the key and grown when a value turns out larger, so no value is left out.
void importRecordedSettings(const Installer& installer)
{
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordedSettingsKey, 0, KEY_READ, key.receive()) !=
        ERROR_SUCCESS)
        return;
    DWORD longestName = 0, longestData = 0;
    RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &longestName, &longestData, nullptr, nullptr);
    std::vector<char> name(longestName + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD index = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size() - 1);
        LONG result = RegEnumValueA(key.get(), index, name.data(), &nameSize, nullptr, nullptr,
                                    data.data(), &dataSize);
        if (result == ERROR_MORE_DATA) {
            name.resize(name.size() * 2);
            data.resize(std::max<size_t>(data.size() * 2, dataSize + 2));
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        data[dataSize] = 0;
        installer.setProperty(name.data(), reinterpret_cast<const char*>(data.data()));
        ++index;
    }
}

UINT checkTemp(const Installer& installer)
{
    const std::string temp = environmentVariable("TEMP");
    if (temp.empty())
        return fail(installer, 2019);
    const std::string workFolder = temp + "\\" + "kviltmpmn";
    if (!directoryIsWritable(workFolder))
        return fail(installer, 2019);
    installer.setProperty("CP_TEMPDIR", workFolder);

    std::string supportFolder;
    if (!installer.readProperty("SUPPORTDIR", supportFolder))
        return fail(installer, 2035);

    importRecordedSettings(installer);

    const std::string productVersion = installer.property("ProductVersion");
    const std::string installedVersion =
        readRegistryString(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "Version");
    if (osCheckSuppressed() || (!productVersion.empty() && !installedVersion.empty() &&
                                equalsNoCase(productVersion, installedVersion)))
        installer.setProperty("OSCHECK", "NO");

    if (osIsCoreOrHypervisor())
        installer.setProperty("CP_INSTALLICON", "NO");
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILCheckTEMP(MSIHANDLE handle)
{
    return guarded("caKVILCheckTEMP", handle, checkTemp);
}
