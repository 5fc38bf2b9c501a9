// The library-bound phase of caKVILFinalize: the web server location, the
// console driver, the user's settings in the product's ini files, the
// preferences of an earlier installation, the service start, and finally
// the vendor library itself and the support folder.
#include "install/finalize.h"
#include "runtime/exports.h"

#include "runtime/files.h"
#include "runtime/registry.h"
#include "runtime/services.h"
#include "runtime/shared_data.h"
#include "runtime/text.h"
#include "runtime/trust.h"

namespace kvil {

std::string startingServicesMessage(const std::string& languageId)
{
    if (languageId.empty() || languageId == "1041" || languageId == "2052")
        return std::string();
    if (languageId == "1031")
        return "Dienste werden gestartet. Bitte warten...";
    if (languageId == "1034")
        return "Iniciando los servicios. Espere por favor...";
    if (languageId == "1036")
        return "Lancement des services. Veuillez patienter...";
    return "Starting services. Please wait...";
}

namespace {

const char* const kKvaKey = "SOFTWARE\\Tavrin Computer Corporation\\Tavrin KVA";

void writeSettings(const FinalizeContext& context)
{
    if (equalsNoCase(context.upgradeFlag, "YES"))
        WritePrivateProfileStringA("ProductLog Properties", "CustomLogFileSize",
                                   storedValue("CP_CUSTOMLOGFILESIZE").c_str(),
                                   context.productLogSettingsFile.c_str());
    const std::string& file = context.instrumentationSettingsFile;
    if (!pathIsFile(file))
        return;
    const char* preference =
        equalsNoCase(storedValue("CP_MESSAGE_FORMAT"), "traditional") ? "Legacy" : "Enhanced";
    WritePrivateProfileStringA("System Info", "Message Preference", preference, file.c_str());
    WritePrivateProfileStringA("System Info", "Auto Archive SEL Log",
                               storedValue("CP_AUTOARCHIEVESELLOG").c_str(), file.c_str());
    WritePrivateProfileStringA("System Info", "OS Log Filter",
                               storedValue("CP_OSLOGFILTER").c_str(), file.c_str());
    WritePrivateProfileStringA("System Info", "Log All Sensors",
                               storedValue("CP_LOGALLSENSORS").c_str(), file.c_str());
}

// What the library's launcher is handed, logged first: it may wait long.
void launchAndWait(const Installer& installer, LaunchAppAndWaitFn launch,
                   const std::string& commandLine, const std::string& workingFolder)
{
    if (!launch)
        return;
    installer.message("Waiting for " + commandLine);
    launch(commandLine.c_str(), workingFolder.c_str(), 0);
}

void startServices(const Installer& installer, const FinalizeContext& context,
                   LaunchAppAndWaitFn launch)
{
    auto run = [&](const std::string& commandLine) {
        launchAndWait(installer, launch, commandLine, context.supportFolder);
    };
    auto startIfAutomatic = [&](const char* service) {
        if (serviceStartsAutomatically(service))
            run(netStartCommand(service));
    };
    run(netStartCommand("WinMgmt"));
    startIfAutomatic("snmp");
    run(netStartCommand("dcstor64"));
    run(netStartCommand("dcevt64"));
    if (storedValue("CP_ISKVSADRUNNING") == "false") {
        run("net stop \"kvsad\"");
        run("sc config \"kvsad\" start= disabled");
    } else {
        run(netStartCommand("kvsad"));
    }
    for (const char* service : {"Orvessa", "dcconnsvc", "kvedcnetmon", "kvetaskmgr"})
        startIfAutomatic(service);
}

}  // namespace

void runLibraryBoundPhase(const Installer& installer, const FinalizeContext& context,
                          VendorLibrary& library)
{
    auto updateProgress =
        library.function<UpdateProgressStatusMessageFn>("UpdateProgressStatusMessage");
    auto updateCancelButton = library.function<UpdateCancelButtonFn>("UpdateCancelButton");
    auto launch = library.function<LaunchAppAndWaitFn>("LaunchAppAndWait");
    // Resolved with the others, though this phase writes no log line.
    library.function<KVILLogFn>("KVILLog");
    if (updateCancelButton)
        updateCancelButton(installer.handle(), FALSE);

    const std::string webServer = storedValue("IWS");
    if (equalsNoCase(context.installerKind, "NODE") && equalsNoCase(webServer, "INSTALL") &&
        !registryKeyExists(HKEY_LOCAL_MACHINE, kKvaKey)) {
        createRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin Computer Corporation", "Tavrin KVA");
        writeRegistryValue(HKEY_LOCAL_MACHINE, kKvaKey, "InstallPath",
                           context.installFolder + "\\kva", REG_SZ);
    }

    const std::string message = startingServicesMessage(installer.property("CustomActionData"));

    const std::string consoleDriver = context.installFolder + "\\sm\\mv91cons.inf";
    if (pathIsFile(consoleDriver))
        launchAndWait(installer, launch, consoleDriverCommand(consoleDriver), context.supportFolder);

    writeSettings(context);

    const bool importing = equalsNoCase(context.importPreferences, "YES");
    if (importing) {
        exportPreferences(installer, context.installFolder, context.backupFolder);
        caKVILImportKVSAPrefs(installer.handle());
    }

    if (equalsNoCase(context.startServices, "YES") && equalsNoCase(context.restartFlag, "NO")) {
        if (updateProgress)
            updateProgress(installer.handle(), message.c_str());
        DWORD_PTR result = 0;
        SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>("Environment"), SMTO_BLOCK, 2000, &result);
        startServices(installer, context, launch);
        if (serviceIsRunning("Orvessa")) {
            removeDirectoryTree(context.backupFolder, true);
            // Under a parent another user made (CommonAppData\Tavrin), the
            // backup folder may lead anywhere.
            const std::string& config = context.configBackupFolder;
            if (trusted(installer, config.substr(0, config.find_last_of('\\'))))
                removeDirectoryTree(config, true);
        } else if (!serviceIsRunning("Orvessa") && importing) {
            importPreferences(installer, context.backupFolder, context.installFolder);
            launchAndWait(installer, launch, netStartCommand("Orvessa"), context.supportFolder);
        }
    }

    library.unload();
    DeleteFileA(library.path().c_str());
    removeDirectoryTree(context.supportFolder, false);
}

}  // namespace kvil
