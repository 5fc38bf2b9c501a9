// caKVILPreReqCheckNode: decides which optional features this machine can
// take. It asks the vendor support library about the model, network cards and
// generation, looks at Windows, WMI and WinRM, carries settings of an earlier
// installation over, and ends with the prerequisite checker's verdicts, whose
// result is the action's. Features are restricted only through dispositions
// that the intake publishes in status properties for the package's conditions.
#include "qualify/pre_req_check_node.h"

#include "qualify/feature_table.h"
#include "qualify/hardware_list.h"
#include "qualify/prereq_intake.h"
#include "qualify/settings_carry_over.h"
#include "qualify/system_check.h"
#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/os_version.h"
#include "runtime/registry.h"
#include "runtime/text.h"
#include "runtime/vendor_library.h"

#include <cstdio>
#include <initializer_list>
#include <memory>

using namespace kvil;

namespace kvil {

std::vector<ReleaseStep> windowsReleaseSteps(const std::string& os2016Major,
                                             const std::string& os2019)
{
    std::vector<ReleaseStep> steps;
    if (!os2016Major.empty())
        steps.push_back({{{"CP_2016", "YES"}, {"CP_2012R2", "NO"}},
                         "Prereqcheck: The server has Windows 2016 OS."});
    const int release = leadingInteger(os2019);
    if (release >= 1803 && release <= 2008)
        steps.push_back({{{"CP_2019", "YES"}, {"CP_2016", "NO"}, {"CP_2012R2", "NO"}},
                         "Prereqcheck: The server has Windows 2019 OS."});
    else if (release >= 2009)
        steps.push_back(
            {{{"CP_2022", "YES"}, {"CP_2019", "NO"}, {"CP_2016", "NO"}, {"CP_2012R2", "NO"}},
             "Prereqcheck: The server has Windows 2022 OS."});
    return steps;
}

std::string expandSuiteShorthands(const std::string& features)
{
    return replaceAll(replaceAll(features, "SA", "SI,CLI,SNMP,WMI,OSLOG"), "KVSM",
                      "KVSS,CLI,SNMP,WMI,OSLOG");
}

bool namesOnlyInstrumentationOrStorage(const std::string& addLocal,
                                       const std::function<bool(const char*)>& installed)
{
    auto namesAny = [&](std::initializer_list<const char*> parts) {
        for (const char* part : parts)
            if (contains(addLocal, part))
                return true;
        return false;
    };
    auto anyInstalled = [&](std::initializer_list<const char*> keys) {
        for (const char* key : keys)
            if (installed(key))
                return true;
        return false;
    };
    return namesAny({"SI", "KVSS"}) && !installed("IWS") && !namesAny({"IWS", "SA", "KVSM"}) &&
           !anyInstalled({"CLI", "WMI", "SNMP", "OSLOG", "SSA"}) &&
           !namesAny({"CLI", "WMI", "SNMP", "OSLOG", "RmtMgmt"});
}

std::string addConsoleToInstrumentation(const std::string& addLocal)
{
    return replaceAll(replaceAll(addLocal, "SI", "SI,IWS,WMI"), "KVSS", "KVSS,IWS,WMI");
}

VersionParts splitVersion(const std::string& version)
{
    std::vector<std::string> pieces;
    size_t at = 0;
    while (pieces.size() < 3) {
        at = version.find_first_not_of('.', at);
        if (at == std::string::npos)
            break;
        size_t end = version.find('.', at);
        pieces.push_back(version.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    pieces.resize(3);
    return {pieces[0], pieces[1], pieces[2]};
}

}  // namespace kvil

namespace {

const char* const kAction = "caKVILPreReqCheckNode";

using Properties = std::initializer_list<std::pair<const char*, const char*>>;

// Everything one run works with while the vendor library is loaded.
struct NodeCheck {
    const Installer& installer;
    const VendorLibrary& library;
    KVILLogFn kvilLog;
    FeatureSelection& features;

    void log(const std::string& text) const { kvilLog(installer.handle(), text.c_str(), 2); }

    void set(Properties properties) const
    {
        for (const auto& property : properties)
            installer.setProperty(property.first, property.second);
    }

    template <typename Function>
    Function require(const char* name, const char* reportedName = nullptr) const
    {
        return library.require<Function>(kAction, name, reportedName);
    }
};

bool applicationInstalled(const char* applicationKey)
{
    return registryKeyExists(HKEY_LOCAL_MACHINE,
                             std::string(kApplicationsKey) + "\\" + applicationKey);
}

// Empty when the property cannot be read whole.
std::string wholeProperty(const Installer& installer, const char* name)
{
    std::string value;
    return installer.readProperty(name, value) ? value : std::string();
}

void recordWindowsRelease(const NodeCheck& node)
{
    for (const ReleaseStep& step : windowsReleaseSteps(node.installer.property("CP_OS_2016_MAJOR"),
                                                       node.installer.property("CP_OS_2019"))) {
        for (const auto& property : step.properties)
            node.installer.setProperty(property.first.c_str(), property.second);
        node.log(step.logLine);
    }
}

// Rewrites the command line's feature lists; returns the new ADDLOCAL.
std::string expandFeatureLists(const NodeCheck& node, bool fullInterface)
{
    const Installer& installer = node.installer;
    std::string addLocal = wholeProperty(installer, "ADDLOCAL");
    // Instrumentation alone could not be managed: bring the web server along.
    if (!fullInterface && namesOnlyInstrumentationOrStorage(addLocal, applicationInstalled)) {
        node.log("User has given only SI or KVSS in the ADDLOCAL parameter, enable IWS & WMI along "
                 "with it.");
        addLocal = addConsoleToInstrumentation(addLocal);
    }
    addLocal = expandSuiteShorthands(addLocal);
    installer.setProperty("ADDLOCAL", addLocal);
    for (const char* list : {"REMOVE", "REINSTALL"})
        installer.setProperty(list, expandSuiteShorthands(wholeProperty(installer, list)));
    return addLocal;
}

void querySupport(const NodeCheck& node, IsFeatureSupportedFn isFeatureSupported,
                  const std::string& hardwareList, const std::string& systemId,
                  const std::string& addLocal)
{
    for (const FeatureRow& row : kFeatureTable) {
        if (!row.supportCheck)
            continue;
        const std::string key = row.key;
        const int verdict = isFeatureSupported(hardwareList.c_str(), row.key, systemId.c_str());
        node.log(format("For feature %s pnIsFeatureSupported returned %d", row.key, verdict));
        if (verdict == 1) {
            node.features.raise(key, kHidden);
            node.log("Hiding feature " + key + " since it is not supported on this system.");
        } else if (verdict == 2 && addLocal.empty()) {
            // Interactive: shown locked, and refused if selected anyway.
            node.log("Making feature " + key + " unselectable since it is not supported on this "
                     "system.");
            node.features.raise(key, kLocked);
            addToDisallowedList(node.installer, key);
        } else if (verdict == 2) {
            node.log("Hiding feature " + key + " since it is not supported on this system and "
                     "user entered the ADDLOCAL property.");
            node.features.raise(key, kHidden);
        }
    }
}

void detectNetworkCards(const NodeCheck& node, CheckForNICFn checkForNic)
{
    if (checkForNic("INTEL")) {
        node.log("Intel card was detected.");
    } else {
        node.log("Intel card was not detected.");
        node.features.raise("INTEL", kLocked);
    }
    if (checkForNic("BROADCOM")) {
        node.log("Broadcom card was detected.");
    } else {
        node.log("Broadcom card was not detected.");
        node.features.raise("BRCM", kLocked);
    }
}

// Each later generation that answers yes clears the earlier ones. False when
// the library lacks a probe (the box, if any, has been shown).
bool detectGeneration(const NodeCheck& node)
{
    if (!node.require<HardwareProbeFn>("IsSystem11GorHigher"))
        return false;
    auto is12G = node.require<HardwareProbeFn>("IsSystem12G");
    if (!is12G)
        return false;
    if (is12G() == 1) {
        node.log("This is 12g server, enable ivirk12g for installation");
        node.set({{"CP_12GSERVER", "YES"}});
    } else {
        node.log("This is not a 12g server, do not enable ivirk12g for installation");
        node.features.raise("iVIRK", kHidden);
        node.set({{"CP_12GSERVER", "NO"}});
    }

    // A library without this probe ends the action without a box.
    auto is13G = node.library.function<HardwareProbeFn>("IsSystem13GFullCheck");
    if (!is13G)
        return false;
    if (is13G() == 1) {
        node.log("This is 13g server");
        node.set({{"CP_13GSERVER", "YES"}, {"CP_12GSERVER", "NO"}});
    }

    // Its box names the probe by its short name.
    auto is14G = node.require<HardwareProbeFn>("IsSystem14GFullCheck", "IsSystem14G");
    if (!is14G)
        return false;
    if (is14G() == 1) {
        node.log("This is 14g server");
        node.set({{"CP_14GSERVER", "YES"}, {"CP_13GSERVER", "NO"}, {"CP_12GSERVER", "NO"}});
    }

    auto is15G = node.require<HardwareProbeFn>("IsSystem15G");
    if (!is15G)
        return false;
    if (is15G() == 1) {
        node.log("This is 15g server");
        node.set({{"CP_16GSERVER", "NO"},
                  {"CP_15GSERVER", "YES"},
                  {"CP_14GSERVER", "NO"},
                  {"CP_13GSERVER", "NO"},
                  {"CP_12GSERVER", "NO"}});
    }

    auto is16G = node.require<HardwareProbeFn>("IsSystem16G");
    if (!is16G)
        return false;
    if (is16G() == 1) {
        node.log("This is 16g server");
        node.set({{"CP_16GSERVER", "YES"},
                  {"CP_15GSERVER", "NO"},
                  {"CP_14GSERVER", "NO"},
                  {"CP_13GSERVER", "NO"},
                  {"CP_12GSERVER", "NO"}});
    }
    return true;
}

// Any installed older remote-access tools hide the command line tools,
// whatever their version; the version is only logged.
void hideBesideOlderRemoteAccessTools(const NodeCheck& node)
{
    const std::string key = std::string(kApplicationsKey) + "\\RAC5MT";
    if (!registryKeyExists(HKEY_LOCAL_MACHINE, key))
        return;
    node.log("VIRK Tools Registry key exists");
    const std::string version = readRegistryString(HKEY_LOCAL_MACHINE, key, "Version");
    node.log("VIRK Tools Version is " + version);
    const VersionParts parts = splitVersion(version);
    node.log("VIRK Tools Major Version is " + parts.major);
    node.log("VIRK Tools Minor Version is " + parts.minor);
    node.log("VIRK Tools Build Version is " + parts.build);
    node.log("Disable the VIRK tools feature");
    node.features.raise("iVIRK", kHidden);
}

// An unsupported model, or a workstation edition of Windows on anything but
// a rack workstation (where one is expected), gets the web console alone.
void limitToConsoleWhereRequired(const NodeCheck& node, const std::string& systemId)
{
    bool workstation = !osCheckSuppressed() && osIsWorkstation();
    if (isRackWorkstation(systemId)) {
        node.log("This is an Quillon system for bDOS");
        workstation = false;
    } else {
        node.log("This is not an Quillon system for bDOS");
    }
    if (node.installer.property("CP_SUPPORTEDSYSTEM") != "1" || workstation) {
        node.log("Enable only console on this system.");
        for (const FeatureRow& row : kFeatureTable)
            node.features.raise(row.key, equalsNoCase(row.key, "IWS") ? kUnrestricted : kHidden);
        node.log("set the service dependency property to NO.");
        node.set({{"CP_SERVICEDEPENDENCY", "NO"}});
    }
}

// The first number in the listener script's answer file; 1 means an HTTPS
// listener is present.
bool httpsListenerReported(const std::string& supportFolder)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(
        std::fopen((supportFolder + "\\ssa_kvi.log").c_str(), "r"), std::fclose);
    int answer = 0;
    return file && std::fscanf(file.get(), "%d", &answer) == 1 && answer == 1;
}

// Remote enablement works through WMI and WinRM with an HTTPS listener.
void checkRemoteEnablement(const NodeCheck& node, LaunchAppAndWaitFn launchAppAndWait,
                           const std::string& supportFolder)
{
    if (readRegistryString(HKEY_LOCAL_MACHINE, "System\\currentcontrolset\\services\\winmgmt",
                           "imagepath")
            .empty()) {
        node.log("WMI not detected.SSA should not be installed");
        node.features.raise("RmtMgmt", kHidden);
    }
    bool listener = false;
    if (!readRegistryString(HKEY_LOCAL_MACHINE, "System\\currentcontrolset\\services\\WinRM",
                            "imagepath")
             .empty()) {
        const char* const probe = "cscript IsHTTPSListenerPresent.vbs";
        node.installer.message(std::string("Waiting for ") + probe);
        launchAppAndWait(probe, supportFolder.c_str(), 0);
        listener = httpsListenerReported(supportFolder);
    }
    if (!listener) {
        node.log("Either WinRM is not detected or HTTPS Listener is not enabled.SSA should not be "
                 "installed in typical mode");
        node.features.raise("RmtMgmt", kLocked);
    }

    if (readRegistryString(HKEY_LOCAL_MACHINE, std::string(kApplicationsKey) + "\\SSA", "Version")
            .empty())
        node.features.raise("RmtMgmt", kLocked);
    if (readRegistryString(HKEY_LOCAL_MACHINE, std::string(kApplicationsKey) + "\\SNMP", "Version")
            .empty())
        node.features.raise("SNMP", kLocked);
}

UINT checkNode(const Installer& installer)
{
    std::string supportFolder;
    const bool supportFolderRead = installer.readProperty("SUPPORTDIR", supportFolder);
    VendorLibrary library(installer, supportFolder, "KVIL64.dll",
                          {"hwlist.ini", "ssa_kvi.log", "IsHTTPSListenerPresent.vbs"});
    // A refused or missing library fails before anything is staged from its
    // folder.
    if (!library.loaded()) {
        library.reportLoadFailure(kAction);
        return ERROR_INSTALL_FAILURE;
    }
    const std::string hardwareList = hardwareListPath(installer, supportFolder, supportFolderRead);
    // Without a list of this package the library would judge every feature
    // against nothing.
    if (hardwareList.empty())
        return ERROR_INSTALL_FAILURE;
    const int uiLevel = installer.uiLevel();
    const bool fullInterface = uiLevel == 5;
    auto kvilLog = library.require<KVILLogFn>(kAction, "KVILLog");
    if (!kvilLog)
        return ERROR_INSTALL_FAILURE;
    FeatureSelection features;
    const NodeCheck node{installer, library, kvilLog, features};
    // Without its answers nothing can be decided: failed like the other
    // functions the action needs.
    auto isFeatureSupported = node.require<IsFeatureSupportedFn>("IsFeatureSupported");
    if (!isFeatureSupported)
        return ERROR_INSTALL_FAILURE;

    recordWindowsRelease(node);

    const std::string systemId = installer.property("CP_SYSTEMID");
    node.log("Inside caKVILPreReqCheckNode system id = " + systemId);
    node.log("Inside caKVILPreReqCheckNode hwfile = " + hardwareList);

    const std::string addLocal = expandFeatureLists(node, fullInterface);
    querySupport(node, isFeatureSupported, hardwareList, systemId, addLocal);

    if (!node.require<HardwareProbeFn>("CheckForHardWare"))
        return ERROR_INSTALL_FAILURE;
    auto checkForNic = node.require<CheckForNICFn>("CheckForNIC");
    if (!checkForNic)
        return ERROR_INSTALL_FAILURE;
    detectNetworkCards(node, checkForNic);

    if (!detectGeneration(node))
        return ERROR_INSTALL_FAILURE;
    hideBesideOlderRemoteAccessTools(node);
    // CP_SYSTEMID as read above: nothing in between sets it.
    limitToConsoleWhereRequired(node, systemId);

    auto launchAppAndWait = node.require<LaunchAppAndWaitFn>("LaunchAppAndWait");
    if (!launchAppAndWait)
        return ERROR_INSTALL_FAILURE;
    checkRemoteEnablement(node, launchAppAndWait, supportFolder);

    carrySettingsOver(installer, [&](const std::string& text) { node.log(text); });

    library.unload();
    return takePrerequisiteResults(installer, features, uiLevel, addLocal);
}

}  // namespace

extern "C" UINT __stdcall caKVILPreReqCheckNode(MSIHANDLE handle)
{
    return guarded(kAction, handle, checkNode);
}
