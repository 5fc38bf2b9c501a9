// caKVILRunVCRedist: a deferred action that installs the update KB2999226 on
// Windows Server 2012 / 2012 R2 and Windows 8 / 8.1. Everything it needs
// arrives in CustomActionData: UI level, support folder, OS name, language.
#include "install/run_vc_redist.h"

#include "runtime/environment.h"
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/message_box.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/trust.h"

using namespace kvil;

namespace kvil {

std::array<std::string, 7> redistFields(const std::string& customActionData)
{
    std::array<std::string, 7> fields;
    size_t count = 0;
    size_t at = 0;
    while (count < fields.size() && at < customActionData.size()) {
        size_t end = customActionData.find(';', at);
        if (end == std::string::npos)
            end = customActionData.size();
        if (end > at)
            fields[count++] = customActionData.substr(at, end - at);
        at = end + 1;
    }
    return fields;
}

const UpdatePackage* updatePackageFor(const std::string& osName)
{
    static const struct {
        const char* contains;
        UpdatePackage package;
    } kRows[] = {
        {"2012 R2", {"This is Windows 2012 R2", "\\Windows8.1-KB2999226-x64.msu", true}},
        {"2012", {"This is Windows 2012", "\\Windows8-RT-KB2999226-x64.msu", true}},
        {"8.1", {"This is Windows 8.1", "\\Windows8.1-KB2999226-x64.msu", true}},
        {"8", {"This is Windows 8", "\\Windows8-RT-KB2999226-x64.msu", false}},
    };
    for (const auto& row : kRows)
        if (contains(osName, row.contains))
            return &row.package;
    return nullptr;
}

std::string wusaCommandLine(const std::string& supportFolder, const UpdatePackage& package,
                            const std::string& systemDrive)
{
    return "wusa \"" + supportFolder + package.file + "\" /quiet /log:\"" + systemDrive +
           "\\windows\\temp\\vclog.log\"";
}

}  // namespace kvil

namespace {

// wusa's answer when the update does not apply to this system.
const DWORD kUpdateNotApplicable = 0x80240017;

UINT runVCRedist(const Installer& installer)
{
    const std::array<std::string, 7> fields = redistFields(
        customActionData(installer, "caKVILRunVCRedist", "caKVILSetRunVCRedistData"));
    const std::string& uiLevel = fields[2];
    const std::string& supportFolder = fields[3];
    const std::string& osName = fields[4];
    const std::string& language = fields[5];

    installer.message("The UILEVEL is : " + uiLevel);
    installer.message("The SUPPORTDIR is : " + supportFolder);
    installer.message("OS Name : " + osName);
    const std::string systemDrive = environmentVariable("SystemDrive");

    const UpdatePackage* package = updatePackageFor(osName);
    if (!package)
        return ERROR_SUCCESS;
    installer.message(package->logLine);
    // wusa installs what it is given as SYSTEM: nothing another user planted.
    if (!trusted(installer, supportFolder) || !trusted(installer, supportFolder + package->file))
        return ERROR_INSTALL_FAILURE;
    const std::string commandLine = wusaCommandLine(supportFolder, *package, systemDrive);
    if (package->logsCommandLine)
        installer.message("The KB that is run: " + commandLine);

    DWORD exitCode = 0;  // stays 0 when wusa does not start
    runProcessAndWait(commandLine, nullptr, false, exitCode, &installer);
    if (exitCode != kUpdateNotApplicable)
        return ERROR_SUCCESS;

    if (uiLevel == "5") {
        const std::string text = loadLocalisedStringForCode(installer, 2059, language);
        const std::string caption = loadLocalisedString(installer, 2001);
        errorBox(installer, caption, text, MB_OK | MB_ICONERROR);
    } else {
        // The language of the installation: in a deferred action ProductLanguage
        // reads empty, so this is the English text.
        installer.message(loadLocalisedString(installer, 2059) + commandLine);
    }
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" UINT __stdcall caKVILRunVCRedist(MSIHANDLE handle)
{
    return guarded("caKVILRunVCRedist", handle, runVCRedist);
}
