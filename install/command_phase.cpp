#include "install/command_phase.h"

#include "qualify/feature_table.h"
#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/process.h"
#include "runtime/shared_data.h"
#include "runtime/text.h"
#include "runtime/vendor_library.h"

namespace kvil {

namespace {

const char* const kCaption = "KVILAction";

// A feature stored as being installed or removed.
bool phaseActsOn(const std::string& state)
{
    return equalsNoCase(state, "INSTALL") || equalsNoCase(state, "UNINSTALL");
}

// Started whether or not the copy succeeded; its outcome is not checked.
void restrictAccess(const std::string& stagedFile)
{
    startProcess(removeUsersAccessCommand(stagedFile), nullptr, false);
}

// What the library receives from SUPPORTDIR: the hardware list and the
// command files.
std::vector<const char*> supportFilesHandedOn()
{
    std::vector<const char*> files(std::size(kFeatureTable) + 1, "hwlist.ini");
    for (size_t n = 0; n < std::size(kFeatureTable); ++n)
        files[n + 1] = kFeatureTable[n].commandFile;
    return files;
}

}  // namespace

std::string removeUsersAccessCommand(const std::string& path)
{
    return "cacls \"" + path + "\" /E /R Users";
}

UINT runCommandPhase(const Installer& installer, const char* installPhase,
                     const char* uninstallPhase, bool rollback)
{
    const bool sharedTrusted = sharedDataTrusted(installer);
    const std::string installFolder = storedValue("INSTALLDIR");
    const std::string supportFolder = storedValue("SUPPORTDIR");
    const BOOL completeRemoval = equalsNoCase(storedValue("REMOVE"), "ALL");
    const std::string tempFolder = storedValue("CP_TEMPDIR");

    if (sharedTrusted)
        noteMissingStoredValues(installer, supportFolder);
    VendorLibrary library(installer, supportFolder, "KVIL64.dll", supportFilesHandedOn());
    if (!library.loaded()) {
        library.reportLoadFailure(kCaption, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    auto executeCommands = library.require<ExecuteCommandsFn>(kCaption, "ExecuteCommands");
    if (!executeCommands)
        return ERROR_INSTALL_FAILURE;
    auto kvilLog = library.require<KVILLogFn>(kCaption, "KVILLog");
    if (!kvilLog)
        return ERROR_INSTALL_FAILURE;
    auto log = [&](const std::string& text) { kvilLog(installer.handle(), text.c_str(), 2); };

    const std::string programFiles = environmentVariable("ProgramFiles");
    if (programFiles.empty())
        log("ProgramFiles folder not found. Cannot copy the ini files.");
    const std::string workFolder = programFiles + "\\tempini";
    if (!directoryIsWritable(workFolder))
        log("Unable to create <ProgramFiles>/tempini folder. Cannot copy ini files.");

    log("SUPPORTDIR = " + supportFolder);
    log("INSTALLDIR = " + installFolder);
    log("CP_TEMPDIR = " + tempFolder);
    log("TEMPINIDIR folder is " + workFolder);
    const std::string systemId = storedValue("CP_SYSTEMID");

    const std::string hardwareList = workFolder + "\\" + "hwlist.ini";
    copyOver(supportFolder + "\\" + "hwlist.ini", hardwareList);
    restrictAccess(hardwareList);

    // Every command file is staged before any command runs, so that a
    // forward phase stops before it has begun when one it needs cannot be.
    const size_t rows = kFeatureTable.size();
    std::array<std::string, kFeatureCount> states;
    std::array<bool, kFeatureCount> staged = {};
    UINT result = ERROR_SUCCESS;
    for (size_t n = 0; n < rows; ++n) {
        const FeatureRow& row = kFeatureTable[n];
        states[n] = storedValue(row.key);
        const std::string source = supportFolder + "\\" + row.commandFile;
        const std::string commandFile = workFolder + "\\" + row.commandFile;
        const DWORD error = copyOver(source, commandFile);
        staged[n] = error == 0;
        if (error && phaseActsOn(states[n]) && pathIsFile(source)) {
            installer.message(couldNotStage(source, error));
            if (!rollback)
                result = ERROR_INSTALL_FAILURE;
        }
        if (error)
            log("Cannot copy file" + commandFile);
        restrictAccess(commandFile);
    }

    for (size_t n = 0; n < rows && result == ERROR_SUCCESS; ++n) {
        const FeatureRow& row = kFeatureTable[n];
        const std::string& state = states[n];
        const std::string source = supportFolder + "\\" + row.commandFile;
        const std::string commandFile = workFolder + "\\" + row.commandFile;
        // Only this run's copy is handed over, never one an earlier run left.
        const bool present = staged[n] && pathIsFile(source);
        auto execute = [&](const char* phase) {
            installer.message(std::string("Waiting for ExecuteCommands of feature ") + row.key +
                              ", phase " + phase);
            return executeCommands(installer.handle(), installFolder.c_str(), workFolder.c_str(),
                                   tempFolder.c_str(), commandFile.c_str(), systemId.c_str(),
                                   phase, completeRemoval, rollback);
        };

        if (equalsNoCase(state, "INSTALL")) {
            log(std::string("Installing feature ") + row.key);
            if (present && execute(installPhase) != 0 && !rollback)
                result = ERROR_INSTALL_FAILURE;
        } else if (equalsNoCase(state, "UNINSTALL")) {
            log(std::string("Uninstalling feature ") + row.key);
            if (present)
                execute(uninstallPhase);
        }
    }

    library.unload();
    removeDirectoryTree(workFolder, true);
    return result;
}

}  // namespace kvil
