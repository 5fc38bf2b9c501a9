// caKVILExportKVSAPrefs and caKVILImportKVSAPrefs, and the export and import
// routines that caKVILFinalize also uses: the user's preferences of the
// installed product saved into a backup folder and brought back after an
// upgrade. Each routine keeps a plain-text log in TEMP.
#include "install/finalize.h"

#include "qualify/settings_carry_over.h"

#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/process.h"
#include "runtime/shared_data.h"
#include "runtime/trust.h"

#include <cstdio>

namespace kvil {

namespace {

const std::string kWebInf = "\\apache-tomcat\\webapps\\kvsa\\WEB-INF";
const std::string kKvpref = kWebInf + "\\lib\\kvpref.jar.bak";
const std::string kKvsaJar = kWebInf + "\\lib\\kvsa.jar.bak";

// One preference file: where it is, the folder the export creates for it in
// the backup folder, and whether its backup copy carries ".bak".
struct PreferenceFile {
    std::string item;
    std::string exportFolder;
    bool backupAsBak;
};

const PreferenceFile kFiles[] = {
    {"\\kva\\ini\\kva.properties", "\\kva\\ini", false},
    {"\\kva\\ini\\produsefeedback.ini", "", false},
    {kWebInf + "\\web.xml", kWebInf + "\\lib", true},
    {"\\apache-tomcat\\conf\\keystore.db", "\\apache-tomcat\\conf", false},
    {"\\apache-tomcat\\conf\\server.xml", "", true},
    {"\\wwwroot\\oem\\data\\ini\\tavrin\\kvsaoem.ini", "\\wwwroot\\oem\\data\\ini\\tavrin", false},
    {"\\kvsa\\ini\\dcisdy64.ini", "\\kvsa\\ini", false},
};

class RoutineLog {
public:
    explicit RoutineLog(const char* name) : path_(environmentVariable("TEMP") + name)
    {
        DeleteFileA(path_.c_str());
    }
    // A line that cannot be written is dropped.
    void line(const std::string& text) const
    {
        if (FILE* file = std::fopen(path_.c_str(), "a")) {
            std::fprintf(file, "%s\n", text.c_str());
            std::fclose(file);
        }
    }

private:
    std::string path_;
};

std::string iniValue(const std::string& file, const char* section, const char* key)
{
    char value[32] = {};
    GetPrivateProfileStringA(section, key, "", value, sizeof(value), file.c_str());
    return value;
}

void copyIniValue(const std::string& from, const std::string& to, const char* section,
                  const char* key)
{
    WritePrivateProfileStringA(section, key, iniValue(from, section, key).c_str(), to.c_str());
}

void makeFolder(const std::string& folder)
{
    runShellCommand("mkdir \"" + folder + "\"");
}

// The backup folder under CommonAppData lies in a folder (Tavrin) that any
// user may create before the installation, and then owns.
std::string parentFolder(const std::string& folder)
{
    const size_t separator = folder.find_last_of('\\');
    return separator == std::string::npos ? std::string() : folder.substr(0, separator);
}

bool backupFolderTrusted(const Installer& installer, const std::string& backupFolder)
{
    return backupFolder.empty() || (trusted(installer, parentFolder(backupFolder)) &&
                                    trusted(installer, backupFolder));
}

const char* const kSigningFile = "\\kvprv_key_signing_algorithm.ini";
const char* const kSelEntryFile = "\\dcevdy_SEL_Entry_Info.ini";
const char* const kPrivateKeyIni = "\\kva\\ini\\kvprv64.ini";
const char* const kEventIni = "\\kvsa\\ini\\dcevdy64.ini";

}  // namespace

int exportPreferences(const Installer& installer, const std::string& installFolder,
                      const std::string& backupFolder)
{
    const std::string& i = installFolder;
    const std::string& b = backupFolder;
    if (!b.empty() &&
        !(makeOwnFolder(installer, parentFolder(b)) && makeOwnFolder(installer, b)))
        return -1;
    // The folder goes between double quotes into command interpreter lines.
    const bool foldersMade = safeInCommandLine(installer, b);
    if (foldersMade)
        makeFolder(b);
    RoutineLog log("\\KVSAPrefsExportLog.txt");
    for (size_t n = 0; n < sizeof(kFiles) / sizeof(kFiles[0]); ++n) {
        const PreferenceFile& file = kFiles[n];
        const std::string source = i + file.item;
        if (!pathIsFile(source)) {
            const char* separator = n == 5 ? "" : ": ";
            log.line(std::string("Preferences File does not exist in the source location for export") +
                     separator + source);
            continue;
        }
        if (!file.exportFolder.empty() && foldersMade)
            makeFolder(b + file.exportFolder);
        if (n == 3) {
            copyFileWithLog(installer, i + kWebInf + "\\lib\\kvpref.jar", b + kKvpref);
            copyFileWithLog(installer, i + kWebInf + "\\lib\\kvsa.jar", b + kKvsaJar);
        }
        copyFileWithLog(installer, source, b + file.item + (file.backupAsBak ? ".bak" : ""));
        log.line("Preferences File exported successfully: " + source);
    }
    if (pathIsFile(i + kPrivateKeyIni)) {
        copyIniValue(i + kPrivateKeyIni, b + kSigningFile, "certificates", "key_signing_algorithm");
        copyIniValue(i + kPrivateKeyIni, b + kSigningFile, "webserver", "enableDWS");
    }
    if (pathIsFile(i + kEventIni))
        copyIniValue(i + kEventIni, b + kSelEntryFile, "SEL Entry Information", "Last Entry Event ID");
    return 0;
}

int importPreferences(const Installer& installer, const std::string& backupFolder,
                      const std::string& installFolder)
{
    const std::string& i = installFolder;
    const std::string& b = backupFolder;
    if (!backupFolderTrusted(installer, b))
        return -1;
    RoutineLog log("\\KVSAPrefsImportLog.txt");
    for (size_t n = 0; n < sizeof(kFiles) / sizeof(kFiles[0]); ++n) {
        const PreferenceFile& file = kFiles[n];
        // The web server files go beside the new ones as ".bak", for the
        // upgrade utility to merge; the new files themselves stay.
        std::string source = b + file.item;
        const std::string target = i + file.item;
        std::string copyTarget = target;
        if (file.backupAsBak) {
            if (!pathIsFile(source))
                source += ".bak";
            copyTarget += ".bak";
        }
        if (!pathIsFile(source) || !pathIsFile(target)) {
            log.line("Preferences File does not exist in either the backup folder or the "
                     "destination folder for import: " +
                     source + "; " + copyTarget);
            continue;
        }
        if (n == 1) {
            // The same cap as the carry-over of an earlier installation's settings.
            const std::string logSize =
                iniValue(source, "ProductLog Properties", "CustomLogFileSize");
            if (carry_over::customLogFileSize(logSize) != logSize) {
                WritePrivateProfileStringA("ProductLog Properties", "CustomLogFileSize", "50",
                                           source.c_str());
                log.line("CustomLogFileSize value set to 50 in " + source);
            }
        }
        if (n == 3) {
            copyFileWithLog(installer, b + kKvpref, i + kKvpref);
            copyFileWithLog(installer, b + kKvsaJar, i + kKvsaJar);
        }
        copyFileWithLog(installer, source, copyTarget);
        log.line("Preferences File imported successfully: " + source);
    }
    if (pathIsFile(b + kSigningFile) && pathIsFile(i + kPrivateKeyIni)) {
        const std::string algorithm = carry_over::keySigningAlgorithm(
            iniValue(b + kSigningFile, "certificates", "key_signing_algorithm"));
        WritePrivateProfileStringA("certificates", "key_signing_algorithm", algorithm.c_str(),
                                   (i + kPrivateKeyIni).c_str());
        const std::string enableDws = iniValue(b + kSigningFile, "webserver", "enableDWS");
        if (!enableDws.empty())
            WritePrivateProfileStringA("webserver", "enableDWS", enableDws.c_str(),
                                       (i + kPrivateKeyIni).c_str());
    }
    if (pathIsFile(b + kSelEntryFile) && pathIsFile(i + kEventIni))
        copyIniValue(b + kSelEntryFile, i + kEventIni, "SEL Entry Information", "Last Entry Event ID");
    return 0;
}

}  // namespace kvil

using namespace kvil;

extern "C" UINT __stdcall caKVILExportKVSAPrefs(MSIHANDLE handle)
{
    return guarded("caKVILExportKVSAPrefs", handle, [](const Installer& installer) -> UINT {
        sharedDataTrusted(installer);
        const std::string installFolder = storedValue("INSTALLDIR");
        const std::string backupFolder = storedValue("CP_ConfigBackupFolder");
        if (!backupFolder.empty() && !makeOwnFolder(installer, parentFolder(backupFolder)))
            return ERROR_INSTALL_FAILURE;
        if (pathIsDirectory(backupFolder))
            removeDirectoryTree(backupFolder, true);
        return exportPreferences(installer, installFolder, backupFolder) == 0
                   ? ERROR_SUCCESS
                   : ERROR_INSTALL_FAILURE;
    });
}

extern "C" UINT __stdcall caKVILImportKVSAPrefs(MSIHANDLE handle)
{
    return guarded("caKVILImportKVSAPrefs", handle, [](const Installer& installer) -> UINT {
        sharedDataTrusted(installer);
        const std::string backupFolder = storedValue("CP_ConfigBackupFolder");
        const std::string installFolder = storedValue("INSTALLDIR");
        if (importPreferences(installer, backupFolder, installFolder) != 0)
            return ERROR_SUCCESS;
        const std::string command = upgradeUtilityCommand(installFolder, "tomcattotomcat");
        installer.message("Import utility command to import the preferences:  " + command);
        startProcess(command, nullptr, false);
        return ERROR_SUCCESS;
    });
}
