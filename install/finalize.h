// caKVILFinalize in its three phases: the main sequence, the library-bound
// phase (settings files, preferences, service start) and the final clean-up.
// The command lines the action runs are built by the plain functions below.
#pragma once

#include "runtime/installer.h"
#include "runtime/vendor_library.h"

#include <string>

namespace kvil {

// Values and paths every phase of the finalize action works on.
struct FinalizeContext {
    std::string installFolder;      // stored INSTALLDIR, no trailing backslash
    std::string supportFolder;      // stored SUPPORTDIR
    std::string restartFlag;        // stored CP_KVREBOOT, "NO" when empty
    std::string installerKind;      // stored CP_INSTALLER
    std::string tempFolder;         // stored CP_TEMPDIR
    std::string upgradeFlag;        // stored CP_UPGRADEFLAG
    std::string startServices;      // stored STARTSERVICES, "YES" when empty
    std::string importPreferences;  // stored CP_IMPORTKVSAPREFERENCES
    std::string configBackupFolder; // stored CP_ConfigBackupFolder
    std::string programFiles;
    std::string backupFolder;               // programFiles\tempini\Orvessa
    std::string productLogSettingsFile;     // installFolder\kva\ini\produsefeedback.ini
    std::string instrumentationSettingsFile;  // installFolder\kvsa\ini\dcisdy64.ini
    std::string defaultInstallLocation;     // programFiles\Tavrin\SysMgt
    std::string windowsFolder;
};

FinalizeContext readFinalizeContext();

// Command lines, exactly as passed to the interpreter, the library's launcher
// or process creation. The install folder is quoted wherever it goes into a
// line, so blanks and "&" in it cannot split the command.
std::string inheritanceOffShellCommand(const std::string& installFolder);       // C1
std::string removeAuthenticatedUsersCommand(const std::string& installFolder);  // C2
std::string grantAuthenticatedUsersCommand(const std::string& installFolder);   // C3
std::string removeHotfixLogCommand();                                           // C4
std::string installNuGetProviderCommand();                                      // C5
std::string installNtfsSecurityCommand();                                       // C6
std::string inheritanceOffCommand(const std::string& installFolder);            // C7
std::string removeUsersWriteAccessCommand(const std::string& installFolder);    // C8
std::string fileConverterCommand(const std::string& installFolder);             // C9
std::string privateKeyRightsCommand();                                          // C10
std::string ssaLogRightsCommand();                                              // C11
std::string raidDriverCommand(const std::string& infPath);                      // C12
std::string wmiAutoStartCommand();                                              // C13
std::string wmiStartCommand();                                                  // C14
std::string compileMofCommand(const std::string& mofPath);                      // C15, C16, C22
std::string upgradeUtilityCommand(const std::string& installFolder,
                                  const std::string& argument);                 // C17
std::string clearMemoryFailuresCommand();                                       // C18
std::string deleteSysmanNamespaceCommand();                                     // C19
std::string deleteDcimNamespaceCommand();                                       // C20
std::string registerTunnelCommand(const std::string& installFolder);            // C21
std::string netStartCommand(const std::string& service);
std::string consoleDriverCommand(const std::string& infPath);

// The library-bound phase; it ends by unloading the library and emptying
// the support folder.
void runLibraryBoundPhase(const Installer& installer, const FinalizeContext& context,
                          VendorLibrary& library);

// The progress text shown while the services start, by CustomActionData.
std::string startingServicesMessage(const std::string& languageId);

// The final clean-up phase and its old-installation part.
void runFinalCleanup(const FinalizeContext& context);
void removeOldInstallation(const std::string& installFolder, const std::string& installerKind);

// Preferences carried over an upgrade, between the install folder and a
// backup folder.
int exportPreferences(const Installer& installer, const std::string& installFolder,
                      const std::string& backupFolder);
int importPreferences(const Installer& installer, const std::string& backupFolder,
                      const std::string& installFolder);
// Whether a CustomLogFileSize value is capped to "50": compared as text.
bool logSizeNeedsCap(const std::string& value);
// SHA1 and MD5 (exact case) become SHA256.
std::string upgradedSigningAlgorithm(const std::string& algorithm);

}  // namespace kvil

extern "C" UINT __stdcall caKVILImportKVSAPrefs(MSIHANDLE handle);
