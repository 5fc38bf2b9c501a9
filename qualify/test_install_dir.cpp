// caKVILTestINSTALLDIR: decides whether the folder in TestINSTALLDIR may be
// installed to. The first rule it breaks refuses it: a box and an emptied
// TestINSTALLDIR under the full interface, a log line and 1603 otherwise.
#include "qualify/install_dir_rules.h"

#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/text.h"
#include "runtime/vendor_library.h"

#include <mbstring.h>

namespace kvil {

std::string withTrailingBackslash(const std::string& folder)
{
    if (folder.empty() || folder.back() == '\\')
        return folder;
    return folder + "\\";
}

int locationRefusal(const std::string& candidate, const std::string& windowsDirectory)
{
    const size_t length = candidate.size();
    if (length >= windowsDirectory.size() &&
        _mbsnbicmp(reinterpret_cast<const unsigned char*>(candidate.c_str()),
                   reinterpret_cast<const unsigned char*>(windowsDirectory.c_str()),
                   windowsDirectory.size()) == 0)
        return 2028;
    if (length == 3)
        return 2029;
    if (length >= 2 && candidate.compare(0, 2, "\\\\") == 0)
        return 2030;
    return 0;
}

int driveTypeRefusal(UINT driveType)
{
    return driveType == DRIVE_REMOVABLE || driveType == DRIVE_REMOTE || driveType == DRIVE_CDROM
               ? 2030
               : 0;
}

int fileSystemRefusal(const std::string& fileSystemName)
{
    return startsWith(fileSystemName, "FAT") ? 2017 : 0;
}

namespace {

bool allowedByte(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           contains(" ()+-./:\\_", std::string(1, static_cast<char>(c)));
}

}  // namespace

int nameRefusal(const std::string& candidate)
{
    std::string squeezed;
    for (char c : candidate)
        if (c != ' ')
            squeezed += c;
    while (contains(squeezed, "\\\\"))
        squeezed = replaceAll(squeezed, "\\\\", "\\");
    if (squeezed.size() == 3)
        return 2029;
    if (candidate.size() >= 2)
        for (char c : candidate)
            if (!allowedByte(static_cast<unsigned char>(c)))
                return 2047;
    if (candidate.size() > 80)
        return 2048;
    return 0;
}

}  // namespace kvil

using namespace kvil;

namespace {

// One line through the vendor library's log, loaded afresh for it; dropped
// without a word when the library or its KVILLog is missing.
void logLine(const Installer& installer, const std::string& text, int level)
{
    VendorLibrary library(installer, installer.property("SUPPORTDIR"));
    auto log = library.function<KVILLogFn>("KVILLog");
    if (log)
        log(installer.handle(), replaceAll(text, "\n", " ").c_str(), level);
}

UINT refuse(const Installer& installer, int textId)
{
    if (installer.uiLevel() == 5) {
        localisedBox(installer, textId, MB_OK | MB_ICONERROR);
        installer.setProperty("TestINSTALLDIR", "");
        return ERROR_SUCCESS;
    }
    logLine(installer, loadLocalisedString(installer, textId), 0);
    return ERROR_INSTALL_FAILURE;
}

std::string fileSystemOf(const std::string& root)
{
    char name[260] = {};
    DWORD flags = 0;
    if (!GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, name,
                               sizeof(name)))
        return std::string();
    return name;
}

UINT testInstallDir(const Installer& installer)
{
    std::string typed;
    if (!installer.readProperty("TestINSTALLDIR", typed))
        typed.clear();  // a value that could not be read whole is no candidate
    const std::string candidate = withTrailingBackslash(typed);
    const std::string root = candidate.substr(0, 2) + "\\";

    if (int refusal = locationRefusal(candidate, windowsDirectory()))
        return refuse(installer, refusal);
    if (candidate.size() >= 2)
        if (int refusal = driveTypeRefusal(GetDriveTypeA(root.c_str())))
            return refuse(installer, refusal);

    std::string driveTypeCheck;
    if (installer.readProperty("DRIVETYPECHECK", driveTypeCheck)) {
        if (!equalsNoCase(driveTypeCheck, "YES")) {
            logLine(installer, "DRIVETYPECHECK flag is set to NO. hence skipping the check", 2);
        } else if (candidate.size() >= 2) {
            if (int refusal = fileSystemRefusal(fileSystemOf(root)))
                return refuse(installer, refusal);
        }
    }

    if (int refusal = nameRefusal(candidate))
        return refuse(installer, refusal);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILTestINSTALLDIR(MSIHANDLE handle)
{
    return guarded("caKVILTestINSTALLDIR", handle, testInstallDir);
}
