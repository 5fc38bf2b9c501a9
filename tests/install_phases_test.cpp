// caKVILWriteInfo, the four command-phase actions and caKVILInstallPNPDrivers:
// what the writer records, and the deferred actions reading only that.
#include "harness/support_folder.h"
#include "install/command_phase.h"
#include "install/pnp_drivers.h"
#include "install/write_info.h"
#include "runtime/files.h"

#include <sddl.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>
#include <map>

using namespace test;

#include "runtime/exports.h"

namespace {
const char* const kCommandFiles[] = {"iws.ini",  "sa.ini",  "kvsm.ini",        "ssa.ini",
                                     "wmi.ini",  "snmp.ini", "cli.ini",        "oslog.ini",
                                     "ivirk12g_mn.ini", "nicint.ini", "intel.ini", "brcm.ini"};
std::vector<std::string> journalLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}
const char* const kFeatures[] = {"IWS", "SI",    "KVSS",  "RmtMgmt", "WMI",   "SNMP",
                                 "CLI", "OSLOG", "iVIRK", "NICInt",  "INTEL", "BRCM"};
}  // namespace

TEST(InstallDecisions, EntriesStayOneLineAndFoldersLoseOneBackslash)
{
    EXPECT_EQ("A=x  SUPPORTDIR=D:\\evil\r\n", kvil::sharedDataLine("A", "x\r\nSUPPORTDIR=D:\\evil"));
    EXPECT_EQ("A=\r\n", kvil::sharedDataLine("A", ""));
    EXPECT_EQ("C:\\App", kvil::withoutTrailingBackslash("C:\\App\\"));
    EXPECT_EQ("C:\\App\\", kvil::withoutTrailingBackslash("C:\\App\\\\"));
    EXPECT_EQ("", kvil::withoutTrailingBackslash(""));
    EXPECT_EQ("cacls \"C:\\Program Files\\tempini\\iws.ini\" /E /R Users",
              kvil::removeUsersAccessCommand("C:\\Program Files\\tempini\\iws.ini"));
}

TEST(InstallDecisions, BootDriverRepairNeedsLoaderAtBootAndDriverDisabled)
{
    struct Case { const char* dmload; const char* dmboot; bool repair; };
    for (const Case& c : {Case{"0", "4", true}, Case{"1", "4", false}, Case{"", "4", false},
                          Case{"0", "3", false}, Case{"0", "", false}})
        EXPECT_EQ(c.repair, kvil::bootDriverStartNeedsRepair(c.dmload, c.dmboot))
            << c.dmload << "/" << c.dmboot;
}

TEST(InstallDecisions, DriverListHoldsFeaturesBeingInstalledInTableOrder)
{
    std::map<std::string, std::string> stored = {{"SNMP", "install"}, {"IWS", "INSTALL"},
                                                 {"SI", "UNINSTALL"}, {"CLI", "INSTALLED"}};
    auto state = [&](const char* key) { return stored.count(key) ? stored[key] : ""; };
    EXPECT_EQ("IWS,SNMP,", kvil::pnpFeatureList(state));
    stored = {{"SI", "UNINSTALL"}};
    EXPECT_EQ("", kvil::pnpFeatureList(state));
}

class InstallPhases : public ::testing::Test {
protected:
    void SetUp() override { scrubProductRegistry(); }
    void TearDown() override { scrubProductRegistry(); }
    std::string sharedFile() const { return environment.systemDrive + "\\tempini\\kvil100.txt"; }
    std::string workFolder() const { return environment.programFiles + "\\tempini"; }
    void store(const std::string& text)
    {
        CreateDirectoryA((environment.systemDrive + "\\tempini").c_str(), nullptr);
        writeFile(sharedFile(), text);
    }
    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    Recorder recorder{scratch};
    SupportFolder support{scratch};
    TestPackage package{scratch};
};

TEST_F(InstallPhases, WriterRecordsWhatThePhasesUseWhilePropertiesHoldPoison)
{
    const std::string temp = scratch / "kvtemp";
    CreateDirectoryA(temp.c_str(), nullptr);
    support.file("iws.ini", "");
    support.file("sa.ini", "");
    const std::string stream(2500, 's');
    for (const char* feature : {"IWS", "SI", "KVSS"})
        package.feature({feature, feature, ""});
    MSIHANDLE session = package.property("INSTALLDIR", "C:\\App\\")
                            .property("SUPPORTDIR", support.path() + "\\")
                            .property("CP_TEMPDIR", temp)
                            .property("CP_SYSTEMID", "08FC")
                            .property("CP_DOINGMAJORUPGRADE", "no")
                            .property("CP_ENABLEDWS", "1")
                            .property("CP_MESSAGE_FORMAT", "x\r\nSUPPORTDIR=D:\\evil")
                            .setupFile("big", "big.bin", stream)
                            .openInstalled();
    package.requestState("SI", INSTALLSTATE_ABSENT);
    package.set("REMOVE", "SI");
    ActionRun written = runAction(caKVILWriteInfo, session);
    EXPECT_EQ(0u, written.result);
    EXPECT_CLEAN(written);
    EXPECT_EQ(stream, readFile(support / "big.bin"));
    EXPECT_EQ("Suppress", package.get("REBOOT"));
    const std::string expected =
        "INSTALLDIR=C:\\App\r\nSUPPORTDIR=" + support.path() +
        "\r\nCP_INSTALLER=\r\nPrimaryVolumePath=\r\nProductVersion=9.1.0\r\nBUILDNUMBER=\r\n"
        "CP_SYSTEMID=08FC\r\nCP_UPGRADEFLAG=\r\nCP_MAJORUPGRADE=\r\nCP_DOINGMAJORUPGRADE=no\r\n"
        "CP_ISKVSADRUNNING=\r\nCP_TOMCATTOTOMCAT=\r\nREMOVE=SI\r\nSTARTSERVICES=\r\n"
        "ProductLanguage=1033\r\nCP_TEMPDIR=" + temp +
        "\r\nCP_ConfigBackupFolder=" + package.get("CommonAppDataFolder") +
        "Tavrin\\Orvessa\r\nCP_IMPORTKVSAPREFERENCES=\r\n"
        "CP_CUSTOMLOGFILESIZE=\r\nCP_MESSAGE_FORMAT=x  SUPPORTDIR=D:\\evil\r\n"
        "CP_AUTOARCHIEVESELLOG=\r\nCP_OSLOGFILTER=\r\nCP_LOGALLSENSORS=\r\nSI=UNINSTALL\r\n";
    EXPECT_EQ(expected, readFile(sharedFile()));
    EXPECT_EQ(expected, readFile(environment.temp + "\\kvil100.txt"));

    // Deferred from here on: what they may not read holds poison.
    for (const char* name : {"INSTALLDIR", "SUPPORTDIR", "CP_TEMPDIR", "CP_SYSTEMID", "REMOVE"})
        package.set(name, "poison");
    package.requestState("SI", INSTALLSTATE_LOCAL);
    store(readFile(sharedFile()) + "IWS=INSTALL\r\n");
    ActionRun pre = runAction(caKVILPreInstall, session);
    EXPECT_EQ(0u, pre.result);
    EXPECT_CLEAN(pre);
    const std::string common = "\"C:\\App\", \"" + workFolder() + "\", \"" + temp + "\", \"" +
                               workFolder() + "\\";
    std::vector<std::string> calls = callsOf(support, "ExecuteCommands");
    ASSERT_EQ(2u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find(common + "iws.ini\", \"08FC\", \"PreInstall\", 0, 0) = 0"));
    EXPECT_NE(std::string::npos, calls[1].find(common + "sa.ini\", \"08FC\", \"PreUnInstall\", 0, 0) = 0"));
    EXPECT_FALSE(exists(workFolder()));

    // The post-install phase brings a lost shared data file back from TEMP.
    DeleteFileA(sharedFile().c_str());
    ActionRun post = runAction(caKVILPostInstall, session);
    EXPECT_EQ(0u, post.result);
    EXPECT_CLEAN(post);
    EXPECT_EQ(expected, readFile(sharedFile()));
    calls = callsOf(support, "ExecuteCommands");
    ASSERT_EQ(3u, calls.size());
    EXPECT_NE(std::string::npos, calls[2].find(common + "sa.ini\", \"08FC\", \"PostUnInstall\", 0, 0) = 0"));
}

TEST_F(InstallPhases, StorageFeatureOnAFilterDriverModelAsksForARestartAndBootDriverIsRepaired)
{
    const std::string services = "SYSTEM\\CurrentControlSet\\Services\\";
    const DWORD atBoot = 0, disabled = 4;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (services + "dmload").c_str(), "Start", REG_DWORD, &atBoot, 4);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (services + "dmboot").c_str(), "Start", REG_DWORD, &disabled, 4);
    MSIHANDLE session = package.feature({"KVSS", "Storage", ""})
                            .property("CP_REQUIRESAFAMGT", "yes")
                            .property("CP_DOINGMAJORUPGRADE", "Yes")
                            .property("CP_ENABLEDWS", "1")
                            .setupFile("rules", "hwlist.ini", "[SupportedSystems]")
                            .open();
    package.requestState("KVSS", INSTALLSTATE_LOCAL);
    ActionRun run = runAction(caKVILWriteInfo, session);
    DWORD start = 9, size = sizeof(start);
    RegGetValueA(HKEY_LOCAL_MACHINE, (services + "dmboot").c_str(), "Start", RRF_RT_REG_DWORD,
                 nullptr, &start, &size);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (services + "dmload").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (services + "dmboot").c_str());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ(0u, start);
    EXPECT_EQ("YES", package.get("CP_KVREBOOT"));
    EXPECT_EQ("", package.get("REBOOT"));
    // An empty SUPPORTDIR becomes the product's folder in TEMP.
    const std::string supportFolder = environment.temp + "\\" + package.get("ProductCode");
    EXPECT_EQ(supportFolder, package.get("SUPPORTDIR"));
    EXPECT_EQ("[SupportedSystems]", readFile(supportFolder + "\\hwlist.ini"));
    const std::string text = readFile(sharedFile());
    EXPECT_NE(std::string::npos,
              text.find("CP_DOINGMAJORUPGRADE=Yes\r\nCP_ENABLEDWS=1\r\nCP_ISKVSADRUNNING=\r\n"));
    EXPECT_EQ(text.size() - 33, text.find("\r\nKVSS=INSTALL\r\nCP_KVREBOOT=YES\r\n"));
}

// Where the boot driver's key cannot be written, an ownerless box says so and
// the installation goes on. The key refuses writes through its security
// descriptor: it can be read and deleted, not opened for every access.
TEST_F(InstallPhases, ABootDriverKeyThatCannotBeWrittenIsAnOwnerlessBox)
{
    const std::string services = "SYSTEM\\CurrentControlSet\\Services\\";
    const DWORD atBoot = 0, disabled = 4;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (services + "dmload").c_str(), "Start", REG_DWORD, &atBoot, 4);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (services + "dmboot").c_str(), "Start", REG_DWORD, &disabled, 4);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;KRSDWD;;;WD)", SDDL_REVISION_1, &readOnly, nullptr));  // read, delete, DACL
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, (services + "dmboot").c_str(), 0, WRITE_DAC, &key);
    const LONG secured = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly);
    RegCloseKey(key);
    LocalFree(readOnly);
    HKEY probe = nullptr;
    const LONG refused = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (services + "dmboot").c_str(), 0,
                                       KEY_ALL_ACCESS, &probe);
    if (probe)
        RegCloseKey(probe);

    MSIHANDLE session = package.feature({"KVSS", "Storage", ""})
                            .property("CP_REQUIRESAFAMGT", "yes")
                            .setupFile("rules", "hwlist.ini", "[SupportedSystems]")
                            .open();
    package.requestState("KVSS", INSTALLSTATE_LOCAL);
    ActionRun run = runAction(caKVILWriteInfo, session);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (services + "dmload").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (services + "dmboot").c_str());
    ASSERT_EQ(ERROR_SUCCESS, secured);
    ASSERT_EQ(ERROR_ACCESS_DENIED, refused) << "the key's descriptor was not enforced";

    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "DmBoot reg key", "Failed to set ", MB_OK, Owner::kNone));
    EXPECT_EQ("YES", package.get("CP_KVREBOOT"));
}

// The four phases share one binding: each failure is a box captioned
// "KVILAction" and owned by the foreground window, and stops the phase.
TEST_F(InstallPhases, AnUnusableLibraryStopsAPhaseWithItsBox)
{
    ScratchFolder noExecute("PhasesNoExecuteCommands"), noLog("PhasesNoKVILLog");
    SupportFolder withoutExecute(noExecute, "r14g-supported.ini", "ExecuteCommands");
    SupportFolder withoutLog(noLog, "r14g-supported.ini", "KVILLog");
    const std::string none = scratch / "nolibrary";
    const struct {
        std::string folder, text;
        UINT style;
    } cases[] = {
        {none, "Failed to load library " + none + "\\KVIL64.dll", MB_OK | MB_ICONERROR},
        {withoutExecute.path(), "Failed to get address for function ExecuteCommands",
         MB_ICONERROR},
        {withoutLog.path(), "Failed to get address for function KVILLog", MB_ICONERROR},
    };
    MSIHANDLE session = package.open();
    for (const auto& c : cases) {
        // A rollback would empty the support folder: it meets the missing library only.
        for (Action phase : {caKVILPreInstall, caKVILPreInstallRollback}) {
            if (phase == caKVILPreInstallRollback && c.folder != none)
                continue;
            SCOPED_TRACE(c.text);
            store("SUPPORTDIR=" + c.folder + "\r\nIWS=INSTALL\r\n");
            ActionRun run = runAction(phase, session);
            EXPECT_EQ(1603u, run.result);
            EXPECT_CLEAN(run);
            ASSERT_EQ(1u, run.boxes.size());
            EXPECT_TRUE(isBox(run, 0, "KVILAction", c.text, c.style, Owner::kForeground));
        }
    }
}

// As LocalSystem TEMP is the system's, where any user can leave a
// kvil100.txt: a copy there never replaces the file this installation wrote,
// and comes back only when that file is gone.
TEST_F(InstallPhases, PostInstallRestoresTheSharedDataFileOnlyWhenItIsMissing)
{
    support.file("iws.ini", "");
    const std::string copy = environment.temp + "\\kvil100.txt";
    const std::string own = "SUPPORTDIR=" + support.path() + "\r\nCP_SYSTEMID=08FC\r\nIWS=INSTALL\r\n";
    store(own);
    writeFile(copy, "SUPPORTDIR=" + scratch / "planted" + "\r\nCP_SYSTEMID=0BAD\r\nIWS=INSTALL\r\n");
    InstallerLog log;
    ActionRun present = runAction(caKVILPostInstall, package.open());
    EXPECT_EQ(0u, present.result);
    EXPECT_CLEAN(present);
    EXPECT_TRUE(present.boxes.empty());
    EXPECT_EQ(own, readFile(sharedFile()));
    EXPECT_TRUE(log.contains("Shared data file present: the copy in TEMP is not used."));
    std::vector<std::string> calls = callsOf(support, "ExecuteCommands");
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find("\"08FC\", \"PostInstall\""));

    const std::string restored = "SUPPORTDIR=" + support.path() + "\r\nCP_SYSTEMID=0A0A\r\nIWS=INSTALL\r\n";
    writeFile(copy, restored);
    DeleteFileA(sharedFile().c_str());
    log.clear();
    ActionRun missing = runAction(caKVILPostInstall, package.session());
    EXPECT_EQ(0u, missing.result);
    EXPECT_CLEAN(missing);
    EXPECT_EQ(restored, readFile(sharedFile()));
    EXPECT_TRUE(log.contains("Shared data file restored from " + copy));
    EXPECT_FALSE(log.contains("Shared data file present: the copy in TEMP is not used."));
    calls = callsOf(support, "ExecuteCommands");
    ASSERT_EQ(2u, calls.size());
    EXPECT_NE(std::string::npos, calls[1].find("\"0A0A\", \"PostInstall\""));

    // A second name of a file the user could not read himself is no copy.
    DeleteFileA(copy.c_str());
    DeleteFileA(sharedFile().c_str());
    writeFile(scratch / "secret.txt", restored);
    ASSERT_TRUE(makeHardLink(copy, scratch / "secret.txt"));
    log.clear();
    ActionRun linked = runAction(caKVILPostInstall, package.session());
    EXPECT_CLEAN(linked);
    EXPECT_FALSE(exists(sharedFile()));
    EXPECT_FALSE(log.contains("Shared data file restored from " + copy));
}

TEST_F(InstallPhases, AFailingFeatureStopsTheInstallPhaseButNotItsRollback)
{
    std::string text = "SUPPORTDIR=" + support.path() + "\r\nCP_TEMPDIR=" + scratch / "kvtemp" +
                       "\r\nREMOVE=all\r\n";
    for (const char* feature : kFeatures)
        text += std::string(feature) + "=INSTALL\r\n";
    for (const char* file : kCommandFiles)
        support.file(file, "");
    support.file("sa.ini", "[PreInstall]\n1=exit /b 3\n");
    // The rollback empties the support folder: the journal is kept elsewhere.
    support.file("kvilsim.ini", "[Simulator]\nJournal=" + scratch / "journal.txt" + "\n");
    auto calls = [&] {
        std::vector<std::string> lines;
        for (const std::string& line : journalLines(readFile(scratch / "journal.txt")))
            if (line.rfind("ExecuteCommands(", 0) == 0)
                lines.push_back(line);
        return lines;
    };
    store(text);
    CreateDirectoryA((scratch / "kvtemp").c_str(), nullptr);
    writeFile(scratch / "kvtemp\\left.txt", "x");

    ActionRun failed = runAction(caKVILPreInstall, package.open());
    EXPECT_EQ(1603u, failed.result);
    EXPECT_CLEAN(failed);
    ASSERT_EQ(2u, calls().size());
    EXPECT_NE(std::string::npos, calls()[1].find("\"PreInstall\", 1, 0) = 3"));
    EXPECT_FALSE(exists(workFolder()));
    // Every file is staged and restricted before the first command runs.
    std::vector<std::string> started = recorder.waitForLines(13);
    for (const char* file : {"hwlist.ini", "iws.ini", "sa.ini", "kvsm.ini", "brcm.ini"})
        EXPECT_NE(started.end(),
                  std::find(started.begin(), started.end(),
                            "cacls|cacls \"" + workFolder() + "\\" + file + "\" /E /R Users"))
            << file;

    ActionRun rollback = runAction(caKVILPreInstallRollback, package.session());
    EXPECT_EQ(0u, rollback.result);
    EXPECT_CLEAN(rollback);
    ASSERT_EQ(14u, calls().size());
    EXPECT_NE(std::string::npos, calls()[13].find("brcm.ini\", \"\", \"PreInstall\", 1, 1) = 0"));
    EXPECT_FALSE(exists(support / "sa.ini"));
    EXPECT_FALSE(exists(scratch / "kvtemp"));
    EXPECT_FALSE(exists(sharedFile()));
}

// A deferred action runs as LocalSystem in session 0: its failure box would
// never be answered, so the installer gets the text instead.
TEST_F(InstallPhases, WhereNobodyCanSeeABoxTheMissingLibraryIsAnInstallerError)
{
    HiddenWindowStation hidden;
    InstallerLog log;
    const std::string folder = scratch / "nolibrary";
    CreateDirectoryA(folder.c_str(), nullptr);
    store("SUPPORTDIR=" + folder + "\r\nIWS=INSTALL\r\n");
    ActionRun run = runAction(caKVILPreInstall, package.open(), {}, &hidden);
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ(0, run.windowsCreated) << "a window on an invisible window station";
    EXPECT_TRUE(log.containsError("Failed to load library " + folder + "\\KVIL64.dll"));
}

TEST_F(InstallPhases, DriversInstallOnlyWithTheProductKeyAndOutsideAMajorUpgrade)
{
    store("INSTALLDIR=C:\\App\r\nSUPPORTDIR=" + support.path() +
          "\r\nProductLanguage=1033\r\nCP_MAJORUPGRADE=yes\r\nIWS=install\r\nSNMP=INSTALL\r\n"
          "SI=UNINSTALL\r\n");
    MSIHANDLE session = package.property("ProductLanguage", "1031").open();
    ActionRun noKey = runAction(caKVILInstallPNPDrivers, session);
    EXPECT_EQ(0u, noKey.result);
    EXPECT_CLEAN(noKey);
    createKey("SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\SystemsManagement");
    ActionRun upgrade = runAction(caKVILInstallPNPDrivers, session);
    EXPECT_EQ(0u, upgrade.result);
    EXPECT_TRUE(support.journal().empty());

    store("CP_MAJORUPGRADE=NO\r\n" + readFile(sharedFile()));  // the first entry wins
    ActionRun run = runAction(caKVILInstallPNPDrivers, session);
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ((std::vector<std::string>{
                  "UpdateProgressStatusMessage(" + std::to_string(session) +
                      ", \"Installing Plug and Play drivers. Please wait...\")",
                  "UpdateCancelButton(" + std::to_string(session) + ", 1)",
                  "InstallPNPDevices(\"" + support.path() + "\", \"C:\\App\", \"IWS,SNMP,\")"}),
              support.journal());
}

namespace {
const char* const kNoTmpfs = "[  SKIPPED ] a full disk: no tmpfs could be mounted here\n";
}

// The shared data file meets a file held open by another program, something
// in its way, a full disk: the writer checks its write and says which file
// failed and why, and stops the installation before the script when the file
// is not complete. What was in the way is cleared. The copy in TEMP only
// logs. Once the fault is gone the writer works.
TEST_F(InstallPhases, TheWriterStopsWhenTheSharedDataFileIsNotWrittenWhole)
{
    MSIHANDLE session = package.property("SUPPORTDIR", support.path()).open();
    ActionRun first = runAction(caKVILWriteInfo, session);
    ASSERT_EQ(0u, first.result);
    const std::string expected = readFile(sharedFile());
    const std::string folder = environment.systemDrive + "\\tempini";
    const std::string copy = environment.temp + "\\kvil100.txt";
    std::unique_ptr<HeldOpen> held;
    std::unique_ptr<FullDisk> disk;
    const std::string full = scratch / "full";
    const struct {
        const char* fault;
        std::function<void()> make;
        UINT result;
        std::string line;  // empty: none
        std::string left;  // the shared data file's path afterwards
    } rows[] = {
        {"the file held open", [&] { held.reset(new HeldOpen(sharedFile(), "old")); }, 1603,
         kvil::couldNotWrite(sharedFile(), ERROR_SHARING_VIOLATION), sharedFile()},
        {"a file where its folder must be",
         [&] { kvil::removeDirectoryTree(folder, true); writeFile(folder, "x"); }, 0, "",
         sharedFile()},
        {"a folder where the file must be",
         [&] { DeleteFileA(sharedFile().c_str());
               CreateDirectoryA(sharedFile().c_str(), nullptr);
               writeFile(sharedFile() + "\\x", "x"); },
         0, "", sharedFile()},
        {"the copy in TEMP held open", [&] { held.reset(new HeldOpen(copy)); }, 0,
         kvil::couldNotWrite(copy, ERROR_SHARING_VIOLATION), sharedFile()},
        {"a full disk",
         [&] { disk.reset(new FullDisk(full));
               setEnvironment("SYSTEMDRIVE", full); },
         1603, kvil::couldNotWrite(full + "\\tempini\\kvil100.txt", ERROR_DISK_FULL),
         full + "\\tempini\\kvil100.txt"},
    };
    InstallerLog log;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        log.clear();
        row.make();
        if (disk && !disk->full()) {
            std::cout << kNoTmpfs;
        } else {
            ActionRun run = runAction(caKVILWriteInfo, session);
            EXPECT_EQ(row.result, run.result);
            EXPECT_CLEAN(run);
            const bool wasHeld = held != nullptr;
            held.reset();
            if (!row.line.empty()) {
                EXPECT_TRUE(log.contains(row.line)) << row.line;
            }
            if (row.result == 0)
                EXPECT_EQ(expected, readFile(row.left));
            else if (wasHeld)
                EXPECT_EQ("old", readFile(row.left));
            else
                EXPECT_FALSE(exists(row.left)) << "an incomplete file left";
        }
        held.reset();
        disk.reset();
        setEnvironment("SYSTEMDRIVE", environment.systemDrive);
        ActionRun ordinary = runAction(caKVILWriteInfo, session);
        EXPECT_EQ(0u, ordinary.result);
        EXPECT_EQ(expected, readFile(sharedFile()));
        EXPECT_EQ(expected, readFile(copy));
    }
}

// Faults a server meets where the phases stage the command files: a file
// held open by another program, a file where the work folder must be, a
// folder where a command file must be, a full disk. A forward phase stops
// before any command runs, saying which file failed and why; its rollback
// goes on without the feature whose file it could not stage, never with an
// earlier run's copy. Once the fault is gone the phase works.
TEST_F(InstallPhases, ACommandFileThatCannotBeStagedStopsAForwardPhaseBeforeAnyCommand)
{
    // Not empty: an empty file needs no room on a full disk.
    support.file("iws.ini", "[PreInstall]\n");
    support.file("sa.ini", "[PreInstall]\n");
    const std::string work = workFolder();
    const std::string full = scratch / "full";
    std::unique_ptr<HeldOpen> held;
    std::unique_ptr<FullDisk> disk;
    const struct {
        const char* fault;
        std::function<void()> make;
        std::string line;
        size_t rollbackCalls;  // the features whose files were staged
    } rows[] = {
        {"an old command file held open",
         [&] { CreateDirectoryA(work.c_str(), nullptr);
               if (!held)
                   held.reset(new HeldOpen(work + "\\sa.ini", "[PostInstall]\n1=exit /b 0\n")); },
         kvil::couldNotStage(support / "sa.ini", ERROR_SHARING_VIOLATION), 1},
        {"a file where the work folder must be", [&] { writeFile(work, "x"); },
         kvil::couldNotStage(support / "iws.ini", ERROR_PATH_NOT_FOUND), 0},
        {"a folder where a command file must be",
         [&] { CreateDirectoryA(work.c_str(), nullptr);
               CreateDirectoryA((work + "\\sa.ini").c_str(), nullptr); },
         kvil::couldNotStage(support / "sa.ini", ERROR_ACCESS_DENIED), 1},
        {"a full disk",
         [&] { if (!disk)
                   disk.reset(new FullDisk(full));
               setEnvironment("ProgramFiles", full); },
         kvil::couldNotStage(support / "iws.ini", ERROR_DISK_FULL), 0},
    };
    MSIHANDLE session = package.open();
    InstallerLog log;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        store("SUPPORTDIR=" + support.path() + "\r\nIWS=INSTALL\r\nSI=INSTALL\r\n");
        DeleteFileA((support / "kvilsim-journal.txt").c_str());
        log.clear();
        row.make();
        if (disk && !disk->full()) {
            std::cout << kNoTmpfs;
        } else {
            ActionRun forward = runAction(caKVILPreInstall, session);
            EXPECT_EQ(1603u, forward.result);
            EXPECT_CLEAN(forward);
            EXPECT_TRUE(log.contains(row.line)) << row.line;
            EXPECT_TRUE(callsOf(support, "ExecuteCommands").empty());

            log.clear();
            row.make();  // the forward phase removed what it could of the work folder
            ActionRun rollback = runAction(caKVILPostInstallRollback, session);
            EXPECT_EQ(0u, rollback.result);
            EXPECT_CLEAN(rollback);
            EXPECT_TRUE(log.contains(row.line)) << row.line;
            const std::vector<std::string> calls = callsOf(support, "ExecuteCommands");
            ASSERT_EQ(row.rollbackCalls, calls.size());
            for (const std::string& call : calls)
                EXPECT_NE(std::string::npos, call.find("iws.ini\", \"\", \"PostInstall\", 0, 1)"));
        }
        held.reset();
        disk.reset();
        setEnvironment("ProgramFiles", environment.programFiles);
        DeleteFileA(work.c_str());
        ActionRun ordinary = runAction(caKVILPreInstall, session);
        EXPECT_EQ(0u, ordinary.result);
        EXPECT_EQ(row.rollbackCalls + 2, callsOf(support, "ExecuteCommands").size());
        EXPECT_FALSE(exists(work));
    }
}

// Without the values the writer stored, a phase would load no library and
// point the administrator at the library: the log says first what is missing.
// A shared data file that cannot be restored stops the post-install phase.
TEST_F(InstallPhases, MissingStoredValuesAreNamedBeforeTheLibraryBox)
{
    support.file("iws.ini", "");
    const std::string folder = environment.systemDrive + "\\tempini";
    writeFile(environment.temp + "\\kvil100.txt", "SUPPORTDIR=" + support.path() + "\r\nIWS=INSTALL\r\n");
    writeFile(folder, "x");
    InstallerLog log;
    MSIHANDLE session = package.open();
    ActionRun unrestored = runAction(caKVILPostInstall, session);
    EXPECT_EQ(1603u, unrestored.result);
    EXPECT_CLEAN(unrestored);
    EXPECT_TRUE(unrestored.boxes.empty());
    EXPECT_TRUE(log.contains(kvil::couldNotWrite(sharedFile(), ERROR_PATH_NOT_FOUND)));
    EXPECT_TRUE(callsOf(support, "ExecuteCommands").empty());

    DeleteFileA(folder.c_str());
    store("IWS=INSTALL\r\n");
    log.clear();
    ActionRun missing = runAction(caKVILPreInstall, session);
    EXPECT_EQ(1603u, missing.result);
    EXPECT_CLEAN(missing);
    EXPECT_TRUE(log.contains("The stored values are missing: " + sharedFile() +
                             " holds no SUPPORTDIR."));
    ASSERT_EQ(1u, missing.boxes.size());
    EXPECT_TRUE(isBox(missing, 0, "KVILAction", "Failed to load library \\KVIL64.dll",
                      MB_OK | MB_ICONERROR, Owner::kForeground));

    DeleteFileA(sharedFile().c_str());
    ActionRun restored = runAction(caKVILPostInstall, session);
    EXPECT_EQ(0u, restored.result);
    EXPECT_EQ(1u, callsOf(support, "ExecuteCommands").size());
}
