// caKVILFinalize: finishes an installation or removal once the package's
// files are in place. Deferred: its inputs are stored values and
// CustomActionData. This file holds the main sequence, the finalize context
// and the command lines; the library-bound phase and the final clean-up live
// beside it.
#include "install/finalize.h"

#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/message_box.h"
#include "runtime/os_version.h"
#include "runtime/process.h"
#include "runtime/registry.h"
#include "runtime/shared_data.h"
#include "runtime/text.h"
#include "runtime/trust.h"

using namespace kvil;

namespace kvil {

namespace {

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string withoutTrailingBackslashes(std::string text)
{
    while (!text.empty() && text.back() == '\\')
        text.pop_back();
    return text;
}

}  // namespace

std::string inheritanceOffShellCommand(const std::string& installFolder)
{
    return "icacls " + quoted(installFolder) + " /inheritance:d ";
}

std::string removeAuthenticatedUsersCommand(const std::string& installFolder)
{
    return "icacls " + quoted(installFolder) + " /remove:g *S-1-5-11 > kvsa_hotfix_log: ";
}

std::string grantAuthenticatedUsersCommand(const std::string& installFolder)
{
    return "icacls " + quoted(installFolder) +
           " /grant \"Authenticated Users\":(OI)(CI)(RX) > kvsa_hotfix_log:";
}

std::string removeHotfixLogCommand()
{
    return "powershell Remove-Item -Path kvsa_hotfix_log";
}

std::string installNuGetProviderCommand()
{
    return "powershell Install-PackageProvider -Name NuGet -MinimumVersion 2.8.5.201 -Force";
}

std::string installNtfsSecurityCommand()
{
    return "powershell Install-Module -Name NTFSSecurity -Force";
}

std::string inheritanceOffCommand(const std::string& installFolder)
{
    return "icacls " + quoted(installFolder) + " /inheritance:d";
}

std::string removeUsersWriteAccessCommand(const std::string& installFolder)
{
    return "powershell Remove-NTFSAccess -Path " + powerShellQuoted(installFolder, CP_ACP) +
           " -Account BUILTIN\\Users -AccessRights CreateFiles, CreateDirectories -AppliesTo "
           "ThisFolderAndSubfolders";
}

std::string fileConverterCommand(const std::string& installFolder)
{
    return withoutTrailingBackslashes(
        quoted(installFolder + "\\jre\\bin\\java.exe") + " -cp " +
        quoted(installFolder + "\\kva\\lib\\KVSA.jar") +
        " com.tavrin.kva.common.FileConverter \"" + installFolder);
}

std::string privateKeyRightsCommand()
{
    return "cacls kvprv64.ini /E /P \"Power Users\":R \"Terminal Server User\":R Users:R";
}

std::string ssaLogRightsCommand()
{
    return "cacls log /E /g \"Network Service\":C Users:C";
}

std::string raidDriverCommand(const std::string& infPath)
{
    return "pnputil.exe -i -a " + quoted(infPath);
}

std::string wmiAutoStartCommand()
{
    return "sc config \"winmgmt\" start= auto";
}

std::string wmiStartCommand()
{
    return "net start \"WinMgmt\"";
}

std::string compileMofCommand(const std::string& mofPath)
{
    return "mofcomp " + quoted(mofPath);
}

std::string upgradeUtilityCommand(const std::string& installFolder, const std::string& argument)
{
    const std::string& i = installFolder;
    const std::string webInf = i + "\\apache-tomcat\\webapps\\kvsa\\WEB-INF";
    std::string line = quoted(i + "\\jre\\bin\\java.exe") + " -cp " +
                       quoted(webInf + "\\shared\\KVCOMMON.jar") + ";" +
                       quoted(webInf + "\\lib\\KVSA.jar") + ";" + quoted(webInf + "\\lib\\xalan.jar") +
                       ";" + quoted(webInf + "\\lib\\xerces.jar") + " -Djava.library.path=" +
                       quoted(i + "\\kvsa\\bin") + ";" + quoted(i + "\\kva\\bin") +
                       " com.tavrin.kva.common.KVSAUpgradeUtility \"" + i;
    return withoutTrailingBackslashes(line) + "\" " + argument;
}

std::string clearMemoryFailuresCommand()
{
    return "dcicfg64.exe command=clearmemfailures";
}

std::string deleteSysmanNamespaceCommand()
{
    return "wmic /NAMESPACE:\\\\root\\dcim PATH __Namespace WHERE Name=\"sysman\" DELETE";
}

std::string deleteDcimNamespaceCommand()
{
    return "wmic /NAMESPACE:\\\\root PATH __Namespace WHERE Name=\"dcim\" DELETE";
}

std::string registerTunnelCommand(const std::string& installFolder)
{
    return "regsvr32 /s " + quoted(installFolder + "\\ssa\\tunnel\\bin\\WinTunnel.dll");
}

std::string netStartCommand(const std::string& service)
{
    return "net start " + quoted(service);
}

std::string consoleDriverCommand(const std::string& infPath)
{
    return "pnputil -i -a " + quoted(infPath);
}

FinalizeContext readFinalizeContext()
{
    FinalizeContext context;
    context.installFolder = storedValue("INSTALLDIR");
    context.supportFolder = storedValue("SUPPORTDIR");
    context.restartFlag = storedValue("CP_KVREBOOT");
    if (context.restartFlag.empty())
        context.restartFlag = "NO";
    context.installerKind = storedValue("CP_INSTALLER");
    context.tempFolder = storedValue("CP_TEMPDIR");
    context.upgradeFlag = storedValue("CP_UPGRADEFLAG");
    context.startServices = storedValue("STARTSERVICES");
    context.importPreferences = storedValue("CP_IMPORTKVSAPREFERENCES");
    context.configBackupFolder = storedValue("CP_ConfigBackupFolder");
    context.programFiles = environmentVariable("ProgramFiles");
    context.backupFolder = context.programFiles + "\\tempini\\Orvessa";
    context.productLogSettingsFile = context.installFolder + "\\kva\\ini\\produsefeedback.ini";
    context.instrumentationSettingsFile = context.installFolder + "\\kvsa\\ini\\dcisdy64.ini";
    context.defaultInstallLocation = context.programFiles + "\\Tavrin\\SysMgt";
    if (context.startServices.empty())
        context.startServices = "YES";
    return context;
}

}  // namespace kvil

namespace {

const std::string kApplications = kApplicationsKey;
const char* const kEventSourceKey = "SYSTEM\\CurrentControlSet\\services\\eventlog\\System\\Orvessa";

// The vendor library's launcher and log, or nothing when it did not load:
// then the steps that need them skip their launches and log lines.
class Tools {
public:
    Tools(const Installer& installer, const VendorLibrary& library)
        : installer_(installer),
          launch_(library.function<LaunchAppAndWaitFn>("LaunchAppAndWait")),
          log_(library.function<KVILLogFn>("KVILLog"))
    {
    }
    bool canLaunch() const { return launch_ != nullptr; }
    void launch(const std::string& commandLine, const std::string& workingFolder) const
    {
        if (!launch_)
            return;
        installer_.message("Waiting for " + commandLine);
        launch_(commandLine.c_str(), workingFolder.c_str(), 0);
    }
    // A command through the interpreter, its wait visible in the log.
    int shell(const std::string& commandLine) const
    {
        return runShellCommand(commandLine, &installer_);
    }
    void log(const std::string& text) const
    {
        if (log_)
            log_(installer_.handle(), text.c_str(), 2);
    }

private:
    const Installer& installer_;
    LaunchAppAndWaitFn launch_;
    KVILLogFn log_;
};

void start(const std::string& commandLine)
{
    startProcess(commandLine, nullptr, false);
}

void repairPermissions(const Installer& installer, const FinalizeContext& context,
                       const Tools& tools)
{
    const std::string& folder = context.installFolder;
    if (folder == context.defaultInstallLocation) {
        tools.log("Install Location is default hence the removal of special persmissions is not "
                  "required");
    } else if (osIsWorkstation()) {
        tools.log("The hotfix applied to the installed version of Kevana Orvessa is in progress.");
        // The folder goes between double quotes into command interpreter lines.
        if (safeInCommandLine(installer, folder)) {
            tools.shell(inheritanceOffShellCommand(folder));
            tools.shell(removeAuthenticatedUsersCommand(folder));
            if (tools.shell(grantAuthenticatedUsersCommand(folder)) != 0)
                tools.log("The hotfix is not applied. Retry the installation process using Run "
                          "as administrator option.");
            else
                tools.log("The hotfix is successfully applied to the installed version of "
                          "Kevana Orvessa.");
        }
        tools.shell(removeHotfixLogCommand());
    } else {
        tools.log("Install Location is custom so removing the special persmissions only for "
                  "BUILTIN Users");
        tools.launch(installNuGetProviderCommand(), folder);
        tools.launch(installNtfsSecurityCommand(), folder);
        tools.log("To remove special permissions, first disabling the inheritence only for BUILTIN "
                  "Users");
        tools.launch(inheritanceOffCommand(folder), folder);
        tools.log("After the inheritance is removed the special permissions is getting removed "
                  "only for BUILTIN Users");
        tools.launch(removeUsersWriteAccessCommand(folder), folder);
    }
}

void registerEventMessageFile(const std::string& folder)
{
    if (!registryKeyExists(HKEY_LOCAL_MACHINE, kEventSourceKey))
        return;
    const std::string storageMessages = folder + "\\sm\\tsm_sm_dcsipe64.dll";
    std::string files = folder + "\\kvsa\\bin\\dcship64.dll";
    if (pathIsFile(storageMessages))
        files += ";" + storageMessages;
    writeRegistryValue(HKEY_LOCAL_MACHINE, kEventSourceKey, "EventMessageFile", files,
                       REG_EXPAND_SZ);
}

void maintainOsLoggingKeys()
{
    if (registryKeyExists(HKEY_LOCAL_MACHINE, kApplications + "\\OSLOG"))
        return;
    if (registryKeyExists(HKEY_LOCAL_MACHINE, kApplications + "\\DataEngine") &&
        !registryKeyExists(HKEY_LOCAL_MACHINE, kApplications + "\\Client")) {
        writeRegistryValue(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "OSLOG", "disabled", REG_SZ);
        return;
    }
    deleteRegistryValue(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "OSLOG");
    if (readRegistryString(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "Version").empty())
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSystemsManagementKey);
    for (const char* key :
         {kApplicationsKey, kKevanaKey, "SOFTWARE\\Tavrin Computer Corporation"})
        deleteRegistryKeyWithoutSubkeys(HKEY_LOCAL_MACHINE, key);
}

void installRaidDriver(const FinalizeContext& context, const Tools& tools)
{
    static const struct {
        const char* inf;
        const char* logLine;
    } drivers[] = {
        {"\\sm\\bccfg3.inf", "SWRaid pnputil command for 12G server executed"},
        {"\\sm\\bccfg4.inf", "SWRaid pnputil command for 13g server executed"},
        {"\\sm\\bccfg5.inf", "SWRaid pnputil command for 14g server executed"},
        {"\\sm\\bccfg6.inf", "SWRaid pnputil command for 15G server executed"},
    };
    for (const auto& driver : drivers) {
        const std::string inf = context.installFolder + driver.inf;
        if (pathIsFile(inf)) {
            tools.launch(raidDriverCommand(inf), context.windowsFolder);
            tools.log(driver.logLine);
            return;
        }
    }
}

void registerInstrumentation(const FinalizeContext& context, const Tools& tools)
{
    const std::string& folder = context.installFolder;
    const bool launch = tools.canLaunch();
    if (launch && equalsNoCase(storedValue("WMI"), "INSTALL")) {
        tools.launch(wmiAutoStartCommand(), context.supportFolder);
        tools.launch(wmiStartCommand(), context.supportFolder);
        tools.launch(compileMofCommand(folder + "\\kvsa\\config\\dccim64.mof"), context.windowsFolder);
        tools.launch(compileMofCommand(folder + "\\kva\\mof\\invcim.mof"), context.windowsFolder);
    }
    if (equalsNoCase(context.upgradeFlag, "YES")) {
        deleteRegistryValue(HKEY_LOCAL_MACHINE, kSystemsManagementKey, "VENDOR");
        if (launch && equalsNoCase(storedValue("IWS"), "INSTALL")) {
            const std::string command =
                upgradeUtilityCommand(folder, storedValue("CP_TOMCATTOTOMCAT"));
            tools.log("UpgradeUtilityCommand for IWS 6.1.0.1 patch code merge is" + command);
            if (pathIsFile(folder + "\\jre\\bin\\java.exe"))
                tools.launch(command, folder);
            tools.log("UpgradeUtilityCommand executed");
            removeDirectoryTree(folder + "\\iws", true);
        }
        if (launch && equalsNoCase(storedValue("SI"), "INSTALL") &&
            pathIsFile(folder + "\\kvsa\\bin\\dcicfg64.exe")) {
            tools.launch(clearMemoryFailuresCommand(), folder + "\\kvsa\\bin");
            tools.log("clear existing DIMM failures - command executed");
        }
        if (launch && equalsNoCase(storedValue("RmtMgmt"), "INSTALL")) {
            tools.log("Deleting Namespace \"sysman\" = " + deleteSysmanNamespaceCommand());
            start(deleteSysmanNamespaceCommand());
            tools.log("Deleting Namespace \"dcim\" = " + deleteDcimNamespaceCommand());
            start(deleteDcimNamespaceCommand());
        }
    }
    if (launch && equalsNoCase(storedValue("RmtMgmt"), "INSTALL")) {
        start(registerTunnelCommand(folder));
        tools.log("Enable and start WMI Service before compiling SSA mof files");
        tools.launch(wmiAutoStartCommand(), context.supportFolder);
        tools.launch(wmiStartCommand(), context.supportFolder);
        const std::string mof = folder + "\\ssa\\tunnel\\mofs\\WinTunnel.mof";
        if (pathIsFile(mof)) {
            tools.log("Compiling Wintunnel.mof.");
            start(compileMofCommand(mof));
        }
    }
}

UINT finalize(const Installer& installer)
{
    customActionData(installer, "caKVILFinalize", "caKVILSetFinalizeData");
    const bool sharedTrusted = sharedDataTrusted(installer);
    const std::string fileConverter = fileConverterCommand(storedValue("INSTALLDIR"));
    if (equalsNoCase(storedValue("CP_MAJORUPGRADE"), "YES"))
        return ERROR_SUCCESS;

    FinalizeContext context = readFinalizeContext();
    const std::string& folder = context.installFolder;

    if (sharedTrusted)
        noteMissingStoredValues(installer, context.supportFolder);
    VendorLibrary library(installer, context.supportFolder, "KVIL64.dll", {"kva.properties"});
    const std::string preferences = context.supportFolder + "\\kva.properties";
    // An empty stored folder would make this a file at the drive's root.
    if (!context.supportFolder.empty() && !library.refused() && pathIsFile(preferences))
        CopyFileA(preferences.c_str(), (folder + "\\kva\\ini\\kva.properties").c_str(), FALSE);

    {
        Tools tools(installer, library);
        repairPermissions(installer, context, tools);
        if (pathIsFile(folder + "\\jre\\bin\\java.exe"))
            tools.launch(fileConverter, folder);
        if (pathIsFile(folder + "\\kva\\ini\\kvprv64.ini"))
            tools.launch(privateKeyRightsCommand(), folder + "\\kva\\ini");
        registerEventMessageFile(folder);
        if (pathIsDirectory(folder + "\\ssa\\tunnel\\log")) {
            tools.log("Setting permissions for SSA log folder");
            tools.launch(ssaLogRightsCommand(), folder + "\\ssa\\tunnel");
        }
        maintainOsLoggingKeys();
        context.windowsFolder = windowsDirectory();
        installRaidDriver(context, tools);
        if (equalsNoCase(context.installerKind, "NODE"))
            registerInstrumentation(context, tools);
    }

    if (library.loaded())
        runLibraryBoundPhase(installer, context, library);
    else {
        // Logged first: the box may be one nobody sees.
        installer.message("caKVILFinalize: Failed to load library " + library.path());
        errorBox(installer, "caKVILFinalize", " Failed to load library " + library.path(), MB_OK);
    }

    runFinalCleanup(context);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILFinalize(MSIHANDLE handle)
{
    return guarded("caKVILFinalize", handle, finalize);
}
