// caKVILWriteInfo: records, once and before the deferred actions run, every
// value they need in the shared data file (they cannot read properties),
// leaves a copy of it in TEMP, makes sure the support files are in
// SUPPORTDIR, repairs the storage boot driver's start setting and decides
// whether the installation ends with a restart. Fails only when it cannot
// make the shared data folder or SUPPORTDIR its own, or the shared data file
// cannot be written whole.
#include "install/write_info.h"

#include "qualify/feature_table.h"
#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/guard.h"
#include "runtime/message_box.h"
#include "runtime/registry.h"
#include "runtime/services.h"
#include "runtime/shared_data.h"
#include "runtime/text.h"
#include "runtime/trust.h"

namespace kvil {

std::string sharedDataLine(const std::string& key, const std::string& value)
{
    std::string oneLine = value;
    for (char& c : oneLine)
        if (c == '\r' || c == '\n')
            c = ' ';
    return key + "=" + oneLine + "\r\n";
}

std::string withoutTrailingBackslash(const std::string& folder)
{
    if (!folder.empty() && folder.back() == '\\')
        return folder.substr(0, folder.size() - 1);
    return folder;
}

bool bootDriverStartNeedsRepair(const std::string& dmloadStart, const std::string& dmbootStart)
{
    return !dmloadStart.empty() && dmloadStart[0] == '0' && !dmbootStart.empty() &&
           dmbootStart[0] == '4';
}

}  // namespace kvil

using namespace kvil;

namespace {

const char* const kDmloadKey = "SYSTEM\\CurrentControlSet\\Services\\dmload\\";
const char* const kDmbootKey = "SYSTEM\\CurrentControlSet\\Services\\dmboot\\";

// 0 when nothing (any longer) has the name, else why it could not go.
DWORD deleteIfPresent(const std::string& path)
{
    if (DeleteFileA(path.c_str()))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
}

// The shared data file while it is written: the lines gather here and go to
// the file in one checked write.
class SharedDataWriter {
public:
    void line(const std::string& key, const std::string& value)
    {
        text_ += sharedDataLine(key, value);
    }
    // 0 when the whole text reached the file, else the error.
    DWORD save(const std::string& path) const
    {
        // A new file: whatever had the name (a second name of another
        // file, a link) is deleted, never written through.
        if (const DWORD error = deleteIfPresent(path))
            return error;
        return writeWholeFile(path, text_, CREATE_NEW, FILE_SHARE_READ);
    }

private:
    std::string text_;
};

// What stands where the shared data file must go, a file named like its
// folder or a folder named like the file, is the installer's own leftover:
// it is cleared. True when something was.
bool clearWayFor(const std::string& path)
{
    const std::string folder = path.substr(0, path.find_last_of('\\'));
    bool cleared = false;
    if (pathIsFile(folder) && DeleteFileA(folder.c_str()))
        cleared = true;
    if (pathIsDirectory(path))
        cleared = removeDirectoryTree(path, true) || cleared;
    return cleared;
}

// Writes the shared data file and its copy in TEMP. False, after the log
// line that names the file and the reason, when the file itself could not be
// written whole; a copy that could not be written is only logged, since any
// user can hold a file of that name open in the system's TEMP.
bool saveSharedData(const Installer& installer, const SharedDataWriter& file)
{
    std::string path = sharedDataFilePath();
    if (clearWayFor(path))
        path = sharedDataFilePath();  // hidden and restricted again
    if (const DWORD error = file.save(path)) {
        installer.message(couldNotWrite(path, error));
        return false;
    }
    // The copy too is a new file, never written through a user's file.
    const std::string copy = sharedDataCopyPath();
    DWORD error = deleteIfPresent(copy);
    if (!error && !CopyFileA(path.c_str(), copy.c_str(), TRUE))
        error = GetLastError();
    if (error)
        installer.message(couldNotWrite(copy, error));
    return true;
}

// Writes the record's stream (column 3) to the file in chunks of 1024 bytes.
void writeStream(MSIHANDLE record, const std::string& path)
{
    DeleteFileA(path.c_str());
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    for (;;) {
        char chunk[1024];
        DWORD size = sizeof(chunk);
        if (MsiRecordReadStream(record, 3, chunk, &size) != ERROR_SUCCESS)
            break;
        DWORD written = 0;
        WriteFile(file.get(), chunk, size, &written, nullptr);
        if (size < sizeof(chunk))
            break;
    }
}

// The package's support files, rows of ISSetupFile, written into SUPPORTDIR
// (which becomes TEMP\<ProductCode> when it is empty), each as a new file.
// With `keepExisting`, a trusted file already there is left as it is. False
// only when the folder cannot be made the installer's own.
bool extractSupportFiles(const Installer& installer, bool extract, bool keepExisting)
{
    std::string supportFolder;
    if (installer.readProperty("SUPPORTDIR", supportFolder) && !extract)
        return true;
    if (supportFolder.empty()) {
        const std::string temp = environmentVariable("TEMP");
        if (temp.empty())
            return true;
        supportFolder = temp + "\\" + installer.property("ProductCode");
        installer.setProperty("SUPPORTDIR", supportFolder);
    }
    if (!makeOwnFolder(installer, supportFolder))
        return false;
    installer.query("SELECT * FROM `ISSetupFile`", [&](MSIHANDLE, MSIHANDLE record) {
        char name[1024] = {};
        DWORD count = sizeof(name);
        if (MsiRecordGetStringA(record, 2, name, &count) != ERROR_SUCCESS)
            return true;
        name[sizeof(name) - 1] = '\0';
        const std::string path = supportFolder + "\\" + name;
        if (keepExisting && pathIsFile(path) && distrustReason(path).empty())
            return true;
        writeStream(record, path);
        return true;
    });
    return true;
}

// Sets the storage boot driver to start at boot when its loader does but the
// driver itself is disabled.
void repairBootDriverStart(const Installer& installer)
{
    std::string dmload, dmboot;
    if (registryKeyExists(HKEY_LOCAL_MACHINE, kDmloadKey))
        dmload = readRegistryString(HKEY_LOCAL_MACHINE, kDmloadKey, "Start");
    if (registryKeyExists(HKEY_LOCAL_MACHINE, kDmbootKey))
        dmboot = readRegistryString(HKEY_LOCAL_MACHINE, kDmbootKey, "Start");
    if (!bootDriverStartNeedsRepair(dmload, dmboot))
        return;
    RegKey key;
    const DWORD boot = 0;
    bool written =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDmbootKey, 0, KEY_ALL_ACCESS, key.receive()) ==
            ERROR_SUCCESS &&
        RegSetValueExA(key.get(), "Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&boot),
                       sizeof(boot)) == ERROR_SUCCESS;
    if (!written)
        ownerlessBox(installer, "DmBoot reg key", "Failed to set ", MB_OK);
}

UINT writeInfo(const Installer& installer)
{
    if (!extractSupportFiles(installer, true, true))
        return ERROR_INSTALL_FAILURE;
    const std::string drive = environmentVariable("SYSTEMDRIVE");
    if (!drive.empty() && !makeOwnFolder(installer, drive + "\\tempini"))
        return ERROR_INSTALL_FAILURE;

    SharedDataWriter file;
    auto write = [&](const char* key) { file.line(key, installer.property(key)); };
    file.line("INSTALLDIR", withoutTrailingBackslash(installer.property("INSTALLDIR")));
    file.line("SUPPORTDIR", withoutTrailingBackslash(installer.property("SUPPORTDIR")));
    for (const char* key : {"CP_INSTALLER", "PrimaryVolumePath", "ProductVersion", "BUILDNUMBER",
                            "CP_SYSTEMID", "CP_UPGRADEFLAG", "CP_MAJORUPGRADE",
                            "CP_DOINGMAJORUPGRADE"})
        write(key);

    if (equalsNoCase(installer.property("CP_DOINGMAJORUPGRADE"), "YES")) {
        if (serviceIsRunning("kvsad"))
            installer.setProperty("CP_ISKVSADRUNNING", "true");
        write("CP_ENABLEDWS");
    }

    for (const char* key : {"CP_ISKVSADRUNNING", "CP_TOMCATTOTOMCAT", "REMOVE", "STARTSERVICES",
                            "ProductLanguage", "CP_TEMPDIR"})
        write(key);
    file.line("CP_ConfigBackupFolder", installer.property("CommonAppDataFolder") + "Tavrin\\Orvessa");
    for (const char* key : {"CP_IMPORTKVSAPREFERENCES", "CP_CUSTOMLOGFILESIZE", "CP_MESSAGE_FORMAT",
                            "CP_AUTOARCHIEVESELLOG", "CP_OSLOGFILTER", "CP_LOGALLSENSORS"})
        write(key);

    const bool requiresFilterDriver = equalsNoCase(installer.property("CP_REQUIRESAFAMGT"), "YES");
    bool restart = equalsNoCase(installer.property("CP_KVREBOOT"), "YES");
    repairBootDriverStart(installer);

    for (const FeatureRow& row : kFeatureTable) {
        const Installer::FeatureChange change = installer.featureChange(row.key);
        if (change == Installer::FeatureChange::kNone)
            continue;
        const char* state = change == Installer::FeatureChange::kInstall ? "INSTALL" : "UNINSTALL";
        file.line(row.key, state);
        // Adding or removing storage management on a model with the filter
        // driver takes a restart.
        if (equalsNoCase(row.key, "KVSS") && requiresFilterDriver)
            restart = true;
    }

    if (restart) {
        installer.setProperty("CP_KVREBOOT", "YES");
        file.line("CP_KVREBOOT", "YES");
    } else {
        installer.setProperty("REBOOT", "Suppress");
    }

    // Deferred actions without their values would do nothing and succeed:
    // stopped here, before the script, nothing needs rolling back.
    return saveSharedData(installer, file) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" UINT __stdcall caKVILWriteInfo(MSIHANDLE handle)
{
    return guarded("caKVILWriteInfo", handle, writeInfo);
}
