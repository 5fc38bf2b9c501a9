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

// A failure goes to the installer log too, where the administrator looks.
void reportFailure(const Installer& installer, const RoutineLog& log, const std::string& text)
{
    installer.message(text);
    log.line(text);
}

const char* const kMissingKey = "\x01";

std::string iniValue(const std::string& file, const char* section, const char* key)
{
    char value[32] = {};
    GetPrivateProfileStringA(section, key, "", value, sizeof(value), file.c_str());
    return value;
}

bool iniHasKey(const std::string& file, const char* section, const char* key)
{
    char value[32] = {};
    GetPrivateProfileStringA(section, key, kMissingKey, value, sizeof(value), file.c_str());
    return std::string(value) != kMissingKey;
}

// 0, or the error of the failed write.
DWORD writeIniValue(const std::string& file, const char* section, const char* key,
                    const std::string& value)
{
    if (WritePrivateProfileStringA(section, key, value.c_str(), file.c_str()))
        return 0;
    return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
}

bool isEmptyFile(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
           data.nFileSizeHigh == 0 && data.nFileSizeLow == 0;
}

void makeFolder(const Installer& installer, const std::string& folder)
{
    runShellCommand("mkdir \"" + folder + "\"", &installer);
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

// One export into `b`: false when a file or value could not be copied
// completely (each such failure logged). The "exported successfully" lines
// wait in `done`, one to a line, until the new backup takes its place.
bool exportInto(const Installer& installer, const RoutineLog& log, const std::string& i,
                const std::string& b, std::string& done)
{
    bool complete = true;
    auto copy = [&](const std::string& source, const std::string& target) {
        // Each copy gets its folder, whichever items before it were there.
        const std::string folder = target.substr(0, target.find_last_of('\\'));
        if (!pathIsDirectory(folder))
            makeFolder(installer, folder);
        if (copyFileWithLog(installer, source, target))
            return true;
        const DWORD error = GetLastError();
        if (!pathIsFile(source))
            return true;  // a companion file this installation lacks: nothing to lose
        reportFailure(installer, log, couldNotStage(source, error));
        return complete = false;
    };
    auto copyValue = [&](const std::string& from, const std::string& to, const char* section,
                         const char* key) {
        if (const DWORD error = writeIniValue(to, section, key, iniValue(from, section, key))) {
            reportFailure(installer, log, couldNotStage(from, error));
            complete = false;
        }
    };
    for (size_t n = 0; n < sizeof(kFiles) / sizeof(kFiles[0]); ++n) {
        const PreferenceFile& file = kFiles[n];
        const std::string source = i + file.item;
        if (!pathIsFile(source)) {
            const char* separator = n == 5 ? "" : ": ";
            log.line(std::string("Preferences File does not exist in the source location for export") +
                     separator + source);
            continue;
        }
        if (!file.exportFolder.empty())
            makeFolder(installer, b + file.exportFolder);
        bool copied = true;
        if (n == 3) {
            copied = copy(i + kWebInf + "\\lib\\kvpref.jar", b + kKvpref) && copied;
            copied = copy(i + kWebInf + "\\lib\\kvsa.jar", b + kKvsaJar) && copied;
        }
        copied = copy(source, b + file.item + (file.backupAsBak ? ".bak" : "")) && copied;
        if (copied)
            done += (done.empty() ? "" : "\n") + ("Preferences File exported successfully: " + source);
    }
    if (pathIsFile(i + kPrivateKeyIni)) {
        copyValue(i + kPrivateKeyIni, b + kSigningFile, "certificates", "key_signing_algorithm");
        copyValue(i + kPrivateKeyIni, b + kSigningFile, "webserver", "enableDWS");
    }
    if (pathIsFile(i + kEventIni))
        copyValue(i + kEventIni, b + kSelEntryFile, "SEL Entry Information", "Last Entry Event ID");
    return complete;
}

// Puts the new backup in the old one's place. The old one goes only once the
// new one stands there; when the swap fails the old one stays.
bool replaceBackup(const Installer& installer, const RoutineLog& log, const std::string& fresh,
                   const std::string& backup)
{
    const std::string old = backup + ".old";
    removeDirectoryTree(old, true);
    const bool hadOld = pathIsDirectory(backup);
    if (hadOld && !MoveFileA(backup.c_str(), old.c_str())) {
        reportFailure(installer, log, couldNotWrite(backup, GetLastError()));
        return false;
    }
    if (!MoveFileA(fresh.c_str(), backup.c_str())) {
        const DWORD error = GetLastError();
        if (hadOld)
            MoveFileA(old.c_str(), backup.c_str());
        reportFailure(installer, log, couldNotWrite(backup, error));
        return false;
    }
    removeDirectoryTree(old, true);
    return true;
}

// Never writes an empty value over one the installation has set.
void importIniValue(const Installer& installer, const std::string& value, const std::string& to,
                    const char* section, const char* key)
{
    if (value.empty() && !iniValue(to, section, key).empty())
        return;
    if (const DWORD error = writeIniValue(to, section, key, value))
        installer.message(couldNotWrite(to, error));
}

// A backup file that is empty, or a value file that lacks its key, is
// damaged: it is skipped, so that it replaces nothing.
bool damaged(const Installer& installer, const RoutineLog& log, const std::string& path,
             const char* section = nullptr, const char* key = nullptr)
{
    if (!isEmptyFile(path) && (!section || iniHasKey(path, section, key)))
        return false;
    reportFailure(installer, log, "Skipped damaged backup file " + path + ".");
    return true;
}

}  // namespace

// The new backup is written beside the old one and takes its place only when
// every file and value copied completely: a failed copy never costs the user
// the preferences an earlier export saved. Without an earlier backup, what
// did copy is kept rather than nothing.
int exportPreferences(const Installer& installer, const std::string& installFolder,
                      const std::string& backupFolder)
{
    // Without a stored backup folder every path would lead to the current
    // folder or the drive's root.
    if (backupFolder.empty())
        return -1;
    if (!makeOwnFolder(installer, parentFolder(backupFolder)))
        return kBackupParentNotOwn;
    // The folders go between double quotes into command interpreter lines.
    if (!safeInCommandLine(installer, backupFolder))
        return -1;
    const std::string fresh = backupFolder + ".new";
    removeDirectoryTree(fresh, true);
    makeFolder(installer, fresh);
    RoutineLog log("\\KVSAPrefsExportLog.txt");
    std::string done;
    const bool complete = exportInto(installer, log, installFolder, fresh, done);
    if ((complete || !pathIsDirectory(backupFolder)) &&
        replaceBackup(installer, log, fresh, backupFolder)) {
        if (!done.empty())
            log.line(done);
    } else {
        removeDirectoryTree(fresh, true);
    }
    return 0;
}

int importPreferences(const Installer& installer, const std::string& backupFolder,
                      const std::string& installFolder)
{
    const std::string& i = installFolder;
    const std::string& b = backupFolder;
    if (b.empty() || !backupFolderTrusted(installer, b))
        return -1;
    RoutineLog log("\\KVSAPrefsImportLog.txt");
    auto copy = [&](const std::string& source, const std::string& target) {
        if (pathIsFile(source) && damaged(installer, log, source))
            return false;
        if (copyFileWithLog(installer, source, target))
            return true;
        const DWORD error = GetLastError();
        if (!pathIsFile(source))
            return true;  // a companion file the backup lacks: nothing replaced
        reportFailure(installer, log, couldNotWrite(target, error));
        return false;
    };
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
        if (n == 1 && !isEmptyFile(source)) {
            // The same cap as the carry-over of an earlier installation's settings.
            const std::string logSize =
                iniValue(source, "ProductLog Properties", "CustomLogFileSize");
            if (carry_over::customLogFileSize(logSize) != logSize) {
                WritePrivateProfileStringA("ProductLog Properties", "CustomLogFileSize", "50",
                                           source.c_str());
                log.line("CustomLogFileSize value set to 50 in " + source);
            }
        }
        bool copied = true;
        if (n == 3) {
            copied = copy(b + kKvpref, i + kKvpref) && copied;
            copied = copy(b + kKvsaJar, i + kKvsaJar) && copied;
        }
        copied = copy(source, copyTarget) && copied;
        if (copied)
            log.line("Preferences File imported successfully: " + source);
    }
    const std::string signing = b + kSigningFile;
    if (pathIsFile(signing) && pathIsFile(i + kPrivateKeyIni) &&
        !damaged(installer, log, signing, "certificates", "key_signing_algorithm")) {
        const std::string algorithm = carry_over::keySigningAlgorithm(
            iniValue(signing, "certificates", "key_signing_algorithm"));
        importIniValue(installer, algorithm, i + kPrivateKeyIni, "certificates",
                       "key_signing_algorithm");
        const std::string enableDws = iniValue(signing, "webserver", "enableDWS");
        if (!enableDws.empty())
            importIniValue(installer, enableDws, i + kPrivateKeyIni, "webserver", "enableDWS");
    }
    const std::string selEntry = b + kSelEntryFile;
    if (pathIsFile(selEntry) && pathIsFile(i + kEventIni) &&
        !damaged(installer, log, selEntry, "SEL Entry Information", "Last Entry Event ID"))
        importIniValue(installer, iniValue(selEntry, "SEL Entry Information", "Last Entry Event ID"),
                       i + kEventIni, "SEL Entry Information", "Last Entry Event ID");
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
        // The writer's failure: the backup's parent cannot be made its own.
        if (exportPreferences(installer, installFolder, backupFolder) == kBackupParentNotOwn)
            return ERROR_INSTALL_FAILURE;
        return ERROR_SUCCESS;
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
