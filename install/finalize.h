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
std::string inheritanceOffShellCommand(const std::string& installFolder);
std::string removeAuthenticatedUsersCommand(const std::string& installFolder);
std::string grantAuthenticatedUsersCommand(const std::string& installFolder);
std::string removeHotfixLogCommand();
std::string installNuGetProviderCommand();
std::string installNtfsSecurityCommand();
std::string inheritanceOffCommand(const std::string& installFolder);
std::string removeUsersWriteAccessCommand(const std::string& installFolder);
std::string fileConverterCommand(const std::string& installFolder);
std::string privateKeyRightsCommand();
std::string ssaLogRightsCommand();
std::string raidDriverCommand(const std::string& infPath);
std::string wmiAutoStartCommand();
std::string wmiStartCommand();
std::string compileMofCommand(const std::string& mofPath);
std::string upgradeUtilityCommand(const std::string& installFolder,
                                  const std::string& argument);
std::string clearMemoryFailuresCommand();
std::string deleteSysmanNamespaceCommand();
std::string deleteDcimNamespaceCommand();
std::string registerTunnelCommand(const std::string& installFolder);
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
// backup folder. -1 when nothing is copied: the import's backup folder or its
// parent is not trusted, the export's parent cannot be made the installer's
// own, or the backup folder's name cannot go into a command line; the export
// returns kBackupParentNotOwn for the parent.
constexpr int kBackupParentNotOwn = -2;
int exportPreferences(const Installer& installer, const std::string& installFolder,
                      const std::string& backupFolder);
int importPreferences(const Installer& installer, const std::string& backupFolder,
                      const std::string& installFolder);

}  // namespace kvil

