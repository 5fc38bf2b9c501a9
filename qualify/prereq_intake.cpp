#include "qualify/prereq_intake.h"

#include "runtime/installer.h"
#include "runtime/localised.h"
#include "runtime/message_box.h"
#include "runtime/registry.h"
#include "runtime/text.h"

namespace kvil {

namespace {

const char* const kResultsKey = "Software\\Tavrin Computer Corporation\\Kevana\\PreReqChecks\\MN";
const char* const kCheckerKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\PreReqChecks";

const int kNotRunText = 2002;          // checker not run: go on?
const int kVersionMismatchText = 2050;  // checker of another version: go on?
const int kAllFailedText = 2051;        // checker failed every feature

// Failure codes of the checker: a warning from 2, a refusal from 3.
const int kWarns = 2;
const int kRefuses = 3;

bool isYes(const std::string& value)
{
    return equalsNoCase(value, "YES");
}

// Asks a Yes/No question of the full interface. Where nobody can see it and
// nobody answers, it ends the way the same run ends below the full interface,
// where it is not asked: `unansweredGoesOn`.
bool userGoesOn(const Installer& installer, int textId, bool unansweredGoesOn)
{
    return goesOnAfter(localisedBox(installer, textId, MB_YESNO | MB_ICONQUESTION),
                       unansweredGoesOn);
}

// Version of the earlier installation, from whichever registry side has it.
std::string installedVersion()
{
    std::string version = readRegistryString(
        HKEY_LOCAL_MACHINE, kSystemsManagementKey, "Version");
    if (version.empty())
        version = readRegistryString(HKEY_LOCAL_MACHINE,
                                     "SOFTWARE\\Wow6432Node\\Tavrin Computer Corporation\\Kevana\\"
                                     "Applications\\SystemsManagement",
                                     "Version");
    return version;
}

// A major upgrade must not add features the earlier installation lacked:
// raising never touches an installed feature, so locking them all does that.
void lockFeaturesNewToUpgrade(FeatureSelection& features)
{
    for (const char* key : {"RmtMgmt", "IWS", "INTEL", "BRCM", "KVSS", "iVIRK"})
        features.raise(key, kLocked);
    // Before 7.2.0 these five were parts of the core application, whose key
    // stands for them all: they are raised to 0 then, which still hides an
    // installed instrumentation beside the client tools.
    const bool coreCoversThem =
        versionPredates720(installedVersion()) &&
        registryKeyExists(HKEY_LOCAL_MACHINE, std::string(kApplicationsKey) + "\\KVACORE");
    for (const char* key : {"SI", "CLI", "WMI", "SNMP", "OSLOG"})
        features.raise(key, coreCoversThem ? kUnrestricted : kLocked);
}

void applyFeatureCodes(const Installer& installer, FeatureSelection& features, bool interactive,
                       const std::string& addLocal)
{
    for (std::size_t row = 0; row < kFeatureCount; ++row) {
        const char* key = kFeatureTable[row].key;
        const std::string code = readRegistryString(HKEY_LOCAL_MACHINE, kResultsKey, key);
        if (code.empty())
            continue;
        const int n = leadingInteger(code);
        if (n >= kWarns)
            features.setWarning(row);
        if (n >= kRefuses && interactive && addLocal.empty()) {
            features.raise(key, kLocked);
            addToDisallowedList(installer, key);
        } else {
            features.raise(key, n);
        }
    }
}

}  // namespace

std::string warnedDescription(const std::string& warning, const std::string& title,
                              const std::string& oldDescription)
{
    return fillFirstPlaceholder(warning, title) + ". \n" + oldDescription;
}

bool versionPredates720(const std::string& installedVersion)
{
    // Folding letter case cannot change the order against a text of digits
    // and dots, so a plain byte comparison is the same.
    return installedVersion.compare("7.2.0") < 0;
}

void addFeatureWarning(const Installer& installer, const std::string& featureKey)
{
    std::string warning;
    if (!installer.readProperty("PreReqCheckWARNINGMsg", warning))
        warning.clear();
    const std::string sql =
        "SELECT `Feature`, `Feature_Parent`, `Title`, `Description`, `Display`, `Level`, "
        "`Directory_`, `Attributes` FROM `Feature` WHERE `Feature`='" + featureKey + "'";
    installer.query(sql, [&](MSIHANDLE view, MSIHANDLE record) {
        const std::string description = recordString(record, 4);
        const std::string title = recordString(record, 3);
        // The row is replaced by a temporary one: the package file stays as it is.
        if (MsiViewModify(view, MSIMODIFY_DELETE, record) != ERROR_SUCCESS)
            return false;
        const std::string text = warnedDescription(warning, title, description);
        if (MsiRecordSetStringA(record, 4, text.c_str()) != ERROR_SUCCESS)
            return false;
        MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, record);
        return false;  // the first row only
    });
}

void publishFeatureDispositions(const Installer& installer, const FeatureSelection& features)
{
    for (std::size_t row = 0; row < kFeatureCount; ++row) {
        const FeatureRow& feature = kFeatureTable[row];
        if (!installer.featureExists(feature.key))
            continue;
        std::string current;
        if (installer.readProperty(feature.statusProperty, current))
            installer.setProperty(feature.statusProperty,
                                  std::to_string(features.disposition(row)));
        if (features.warning(row))
            addFeatureWarning(installer, feature.key);
    }
}

UINT takePrerequisiteResults(const Installer& installer, FeatureSelection& features, int uiLevel,
                             const std::string& addLocal)
{
    const bool fullInterface = uiLevel == 5;
    if (equalsNoCase(installer.property("PREREQCHECK"), "NO")) {
        publishFeatureDispositions(installer, features);
        return ERROR_SUCCESS;
    }

    const std::string checkerVersion =
        readRegistryString(HKEY_LOCAL_MACHINE, kCheckerKey, "MNPreReqVersion");
    bool firstTime = isYes(installer.property("CP_FIRSTTIMEINSTALL"));

    if (isYes(installer.property("CP_DOINGMAJORUPGRADE")))
        lockFeaturesNewToUpgrade(features);

    std::string patch;
    if (installer.readProperty("PATCH", patch) && !patch.empty())
        firstTime = false;
    const bool prompt = firstTime && !isYes(installer.property("MSI_RUNNING_FROM_DUP"));

    // The checker was not run.
    if (!registryKeyExists32(HKEY_LOCAL_MACHINE, kResultsKey)) {
        // Unanswered, it goes on, as a run below the full interface does.
        if (prompt && fullInterface && !userGoesOn(installer, kNotRunText, true))
            return ERROR_INSTALL_FAILURE;
        publishFeatureDispositions(installer, features);
        return ERROR_SUCCESS;
    }

    const std::string all = readRegistryString(HKEY_LOCAL_MACHINE, kResultsKey, "ALL");
    if (!all.empty() && leadingInteger(all) >= kRefuses) {
        if (fullInterface)
            localisedBox(installer, kAllFailedText, MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    installer.setProperty("CP_USERRANPREREQ", "YES");

    const std::string productVersion = installer.property("ProductVersion");
    if (!checkerVersion.empty() && !productVersion.empty() &&
        !equalsNoCase(checkerVersion, productVersion)) {
        // Unanswered, it stops, as a run below the full interface does.
        if (!fullInterface || !userGoesOn(installer, kVersionMismatchText, false))
            return ERROR_INSTALL_FAILURE;
    }

    applyFeatureCodes(installer, features, fullInterface, addLocal);
    publishFeatureDispositions(installer, features);
    return ERROR_SUCCESS;
}

}  // namespace kvil
