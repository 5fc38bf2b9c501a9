// caKVILFinalize (main sequence, library-bound phase, final clean-up) and the
// preferences export and import.
#include "harness/harness.h"
#include "harness/support_folder.h"
#include "install/finalize.h"
#include "qualify/settings_carry_over.h"
#include "runtime/files.h"
#include "runtime/os_version.h"
#include "runtime/registry.h"
#include "runtime/text.h"

#include <algorithm>
#include <functional>
#include <memory>

using namespace test;

#include "runtime/exports.h"

namespace {

const std::string kKevana = "SOFTWARE\\Tavrin Computer Corporation\\Kevana";
const std::string kApplications = kKevana + "\\Applications";

struct CommandCase {
    const char* name;
    std::string built;
    std::string expected;
};

bool has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool anyContains(const std::vector<std::string>& lines, const std::string& part)
{
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

}  // namespace

TEST(FinalizeCommands, EveryLineIsBuiltAsTheToolsExpectIt)
{
    using namespace kvil;
    const std::string i = "D:\\My Apps\\Sys&Mgt";
    const std::string w = i + "\\apache-tomcat\\webapps\\kvsa\\WEB-INF";
    const std::string utility =
        "\"" + i + "\\jre\\bin\\java.exe\" -cp \"" + w + "\\shared\\KVCOMMON.jar\";\"" + w +
        "\\lib\\KVSA.jar\";\"" + w + "\\lib\\xalan.jar\";\"" + w +
        "\\lib\\xerces.jar\" -Djava.library.path=\"" + i + "\\kvsa\\bin\";\"" + i +
        "\\kva\\bin\" com.tavrin.kva.common.KVSAUpgradeUtility \"" + i + "\" ";
    const CommandCase cases[] = {
        {"inheritanceOffShell", inheritanceOffShellCommand(i), "icacls \"" + i + "\" /inheritance:d "},
        {"removeAuthenticatedUsers", removeAuthenticatedUsersCommand(i),
         "icacls \"" + i + "\" /remove:g *S-1-5-11 > kvsa_hotfix_log: "},
        {"grantAuthenticatedUsers", grantAuthenticatedUsersCommand(i),
         "icacls \"" + i + "\" /grant \"Authenticated Users\":(OI)(CI)(RX) > kvsa_hotfix_log:"},
        {"removeHotfixLog", removeHotfixLogCommand(), "powershell Remove-Item -Path kvsa_hotfix_log"},
        {"installNuGetProvider", installNuGetProviderCommand(),
         "powershell Install-PackageProvider -Name NuGet -MinimumVersion 2.8.5.201 -Force"},
        {"installNtfsSecurity", installNtfsSecurityCommand(), "powershell Install-Module -Name NTFSSecurity -Force"},
        {"inheritanceOff", inheritanceOffCommand(i), "icacls \"" + i + "\" /inheritance:d"},
        {"removeUsersWriteAccess", removeUsersWriteAccessCommand("D:\\Bob's Apps"),
         "powershell Remove-NTFSAccess -Path 'D:\\Bob''s Apps' -Account BUILTIN\\Users "
         "-AccessRights CreateFiles, CreateDirectories -AppliesTo ThisFolderAndSubfolders"},
        {"fileConverter", fileConverterCommand("D:\\App\\"),
         "\"D:\\App\\\\jre\\bin\\java.exe\" -cp \"D:\\App\\\\kva\\lib\\KVSA.jar\" "
         "com.tavrin.kva.common.FileConverter \"D:\\App"},
        {"privateKeyRights", privateKeyRightsCommand(),
         "cacls kvprv64.ini /E /P \"Power Users\":R \"Terminal Server User\":R Users:R"},
        {"ssaLogRights", ssaLogRightsCommand(), "cacls log /E /g \"Network Service\":C Users:C"},
        {"raidDriver", raidDriverCommand(i + "\\sm\\bccfg4.inf"),
         "pnputil.exe -i -a \"" + i + "\\sm\\bccfg4.inf\""},
        {"wmiAutoStart", wmiAutoStartCommand(), "sc config \"winmgmt\" start= auto"},
        {"wmiStart", wmiStartCommand(), "net start \"WinMgmt\""},
        {"compileMof", compileMofCommand(i + "\\kvsa\\config\\dccim64.mof"),
         "mofcomp \"" + i + "\\kvsa\\config\\dccim64.mof\""},
        {"upgradeUtility", upgradeUtilityCommand(i, "YES"), utility + "YES"},
        {"clearMemoryFailures", clearMemoryFailuresCommand(), "dcicfg64.exe command=clearmemfailures"},
        {"deleteSysmanNamespace", deleteSysmanNamespaceCommand(),
         "wmic /NAMESPACE:\\\\root\\dcim PATH __Namespace WHERE Name=\"sysman\" DELETE"},
        {"deleteDcimNamespace", deleteDcimNamespaceCommand(),
         "wmic /NAMESPACE:\\\\root PATH __Namespace WHERE Name=\"dcim\" DELETE"},
        {"registerTunnel", registerTunnelCommand(i), "regsvr32 /s \"" + i + "\\ssa\\tunnel\\bin\\WinTunnel.dll\""},
        {"service", netStartCommand("kvsad"), "net start \"kvsad\""},
        {"console driver", consoleDriverCommand(i + "\\sm\\mv91cons.inf"),
         "pnputil -i -a \"" + i + "\\sm\\mv91cons.inf\""},
    };
    for (const CommandCase& c : cases)
        EXPECT_EQ(c.expected, c.built) << c.name;
    const std::string cut = upgradeUtilityCommand("D:\\App\\", "tomcattotomcat");
    EXPECT_EQ("KVSAUpgradeUtility \"D:\\App\" tomcattotomcat", cut.substr(cut.rfind("KVSA")));
}

// The install folder between PowerShell's single quotes, read as characters
// of the ANSI code page: in 1252 the typographic quotes are single bytes; in
// 932 the same byte values begin other characters (大 is 0x91 0xE5, あ is
// 0x82 0xA0) and the full-width quotes are two bytes each.
TEST(FinalizeRules, PowerShellQuotesAreDoubledAsCharactersOfTheCodePage)
{
    struct QuoteCase {
        unsigned int codePage;
        std::string text, expected;
    };
    const QuoteCase cases[] = {
        {1252, "", "''"},
        {1252, "D:\\My Apps", "'D:\\My Apps'"},
        {1252, "D:\\Bob's", "'D:\\Bob''s'"},
        {1252, "D:\\\x91x\x92 \x82y'", "'D:\\\x91\x91x\x92\x92 \x82\x82y'''"},
        {932, "D:\\\x91\xE5", "'D:\\\x91\xE5'"},
        {932, "\x82\xA0\x91\xE5'", "'\x82\xA0\x91\xE5'''"},
        {932, "\x81\x65x\x81\x66", "'\x81\x65\x81\x65x\x81\x66\x81\x66'"},
        {932, "x\x91", "'x\x91'"},  // a lead byte without its trail byte stays as it is
    };
    for (const QuoteCase& c : cases)
        EXPECT_EQ(c.expected, kvil::powerShellQuoted(c.text, c.codePage))
            << c.codePage << " " << c.text;
}

TEST(FinalizeRules, ProgressTextsLogSizeCapAndSigningAlgorithm)
{
    using namespace kvil;
    EXPECT_EQ("", startingServicesMessage(""));
    EXPECT_EQ("", startingServicesMessage("2052"));
    EXPECT_EQ("Lancement des services. Veuillez patienter...", startingServicesMessage("1036"));
    EXPECT_EQ("Starting services. Please wait...", startingServicesMessage("1033"));
    // The import caps and upgrades with the carry-over's rules.
    for (const char* capped : {"51", "6", "500"})
        EXPECT_EQ("50", carry_over::customLogFileSize(capped)) << capped;
    for (const char* kept : {"100", "5", "50", ""})
        EXPECT_EQ(kept, carry_over::customLogFileSize(kept)) << kept;
    EXPECT_EQ("SHA256", carry_over::keySigningAlgorithm("MD5"));
    EXPECT_EQ("sha1", carry_over::keySigningAlgorithm("sha1"));
}

// The finalize action empties the support folder, journal included: the
// library writes its journal into the support folder of a second scratch
// folder, read through a SupportFolder view of it.
struct OutsideJournal {
    explicit OutsideJournal(SupportFolder& support)
    {
        support.profileText(readFile(programFolder() + "\\simfiles\\profiles\\r14g-supported.ini") +
                            "\r\n[Simulator]\r\nJournal=" + (view / "kvilsim-journal.txt") + "\r\n");
    }
    ScratchFolder scratch{"Finalize_journal"};
    SupportFolder view{scratch};
};

class Finalize : public ::testing::Test {
protected:
    void SetUp() override
    {
        scrubProductRegistry();
        char path[8192] = {};
        GetEnvironmentVariableA("PATH", path, sizeof(path));
        savedPath_ = path;
        // Commands that go through the interpreter find the recorders first.
        setEnvironment("PATH", programFolder() + ";" + savedPath_);
        GetCurrentDirectoryA(MAX_PATH, savedFolder_);
        SetCurrentDirectoryA(scratch.path().c_str());
        CreateDirectoryA((environment.systemDrive + "\\tempini").c_str(), nullptr);
        CreateDirectoryA(install.c_str(), nullptr);
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(savedFolder_);
        setEnvironment("PATH", savedPath_);
        scrubProductRegistry();
        DeleteFileA("C:\\windows\\kvinstal.db");
    }
    // The shared data file as the install information writer leaves it.
    void store(const std::vector<std::pair<std::string, std::string>>& values)
    {
        std::string text;
        for (const auto& value : values)
            text += value.first + "=" + value.second + "\r\n";
        writeFile(environment.systemDrive + "\\tempini\\kvil100.txt", text);
    }
    MSIHANDLE poisonedSession()
    {
        return package.property("INSTALLDIR", scratch / "poison")
            .property("SUPPORTDIR", scratch / "poison")
            .property("CP_INSTALLER", "NODE")
            .property("CustomActionData", "1031")
            .open();
    }

    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    Recorder recorder{scratch};
    TestPackage package{scratch};
    std::string install = scratch / "My Apps";
    std::string savedPath_;
    char savedFolder_[MAX_PATH] = {};
};

TEST_F(Finalize, MajorUpgradeDoesNothingAtAll)
{
    SupportFolder support(scratch);
    store({{"INSTALLDIR", install}, {"SUPPORTDIR", support.path()}, {"CP_MAJORUPGRADE", "yes"}});
    createKey(kKevana + "\\Installer1100X");
    ActionRun run = runAction(caKVILFinalize, poisonedSession());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_TRUE(support.journal().empty());
    EXPECT_TRUE(exists(environment.systemDrive + "\\tempini\\kvil100.txt"));
    EXPECT_TRUE(keyExists(kKevana + "\\Installer1100X"));
}

TEST_F(Finalize, WorkstationRepairsACustomFolderThroughTheInterpreterAndCleansUp)
{
    SupportFolder library(scratch);
    OutsideJournal journal(library);
    const SupportFolder& support = journal.view;
    recorder.exitCode("icacls", 5);
    CreateDirectoryA((environment.programFiles + "\\tempini").c_str(), nullptr);
    const std::string temp = environment.temp + "\\kvwork";
    CreateDirectoryA(temp.c_str(), nullptr);
    writeFile(environment.temp + "\\kvil100.txt", "copy");
    createKey(kKevana + "\\Installer1100X");
    store({{"INSTALLDIR", install}, {"SUPPORTDIR", library.path()}, {"CP_INSTALLER", "STATION"},
           {"CP_TEMPDIR", temp}, {"CP_KVREBOOT", "YES"}});
    ActionRun run = runAction(caKVILFinalize, poisonedSession());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_TRUE(run.boxes.empty());

    std::vector<std::string> tools = recorder.lines();
    ASSERT_GE(tools.size(), 4u);
    EXPECT_TRUE(anyContains(tools, "\"" + install + "\" /inheritance:d"));
    EXPECT_TRUE(anyContains(tools, "\"" + install + "\" /grant \"Authenticated Users\""));
    EXPECT_TRUE(anyContains(tools, "Remove-Item -Path kvsa_hotfix_log"));
    std::vector<std::string> logged = loggedTexts(support);
    EXPECT_TRUE(has(logged, "The hotfix is not applied. Retry the installation process using Run "
                            "as administrator option."));
    // A restart is pending: no service is started, but the library is still
    // unloaded and removed.
    EXPECT_TRUE(callsOf(support, "UpdateProgressStatusMessage").empty());
    EXPECT_TRUE(has(support.journal(), "UpdateCancelButton(" +
                                           std::to_string(package.session()) + ", 0)"));
    EXPECT_FALSE(exists(library / "KVIL64.dll"));

    EXPECT_FALSE(exists(environment.systemDrive + "\\tempini"));
    EXPECT_FALSE(exists(environment.programFiles + "\\tempini"));
    EXPECT_FALSE(exists(temp));
    EXPECT_FALSE(exists(environment.temp + "\\kvil100.txt"));
    EXPECT_FALSE(keyExists(kKevana + "\\Installer1100X"));
    EXPECT_FALSE(keyExists(kApplications));
    EXPECT_FALSE(exists("C:\\windows\\kvinstal.db"));
}

// Without a visible window station the load-failure box goes to the
// installer; the clean-up after it is done all the same.
TEST_F(Finalize, WhereNobodyCanSeeABoxTheLoadFailureIsAnInstallerErrorAndCleanUpIsDone)
{
    HiddenWindowStation hidden;
    InstallerLog log;
    const std::string folder = scratch / "nolibrary";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string temp = environment.temp + "\\kvwork";
    CreateDirectoryA(temp.c_str(), nullptr);
    createKey(kKevana + "\\Installer1100X");
    store({{"INSTALLDIR", install}, {"SUPPORTDIR", folder}, {"CP_TEMPDIR", temp}});
    ActionRun run = runAction(caKVILFinalize, poisonedSession(), {}, &hidden);
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ(0, run.windowsCreated) << "a window on an invisible window station";
    EXPECT_TRUE(log.containsError(" Failed to load library " + folder + "\\KVIL64.dll"));
    EXPECT_FALSE(exists(environment.systemDrive + "\\tempini"));
    EXPECT_FALSE(exists(temp));
    EXPECT_FALSE(keyExists(kKevana + "\\Installer1100X"));
}

// Where it can be seen, the load failure is a box owned by the foreground
// window, and the clean-up after it is done all the same.
TEST_F(Finalize, ALibraryThatDoesNotLoadIsABoxAndCleanUpIsDone)
{
    const std::string folder = scratch / "nolibrary";
    CreateDirectoryA(folder.c_str(), nullptr);
    store({{"INSTALLDIR", install}, {"SUPPORTDIR", folder}});
    ActionRun run = runAction(caKVILFinalize, poisonedSession());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "caKVILFinalize", " Failed to load library " + folder + "\\KVIL64.dll",
                      MB_OK, Owner::kForeground));
    EXPECT_FALSE(exists(environment.systemDrive + "\\tempini"));
}

TEST_F(Finalize, NodeRemovalOnAServerOfTheDefaultFolderStartsServicesAndRemovesOldFolders)
{
    SupportFolder library(scratch);
    OutsideJournal outside(library);
    const SupportFolder& support = outside.view;
    // The default location: no permission repair.
    const std::string folder = environment.programFiles + "\\Tavrin\\SysMgt";
    CreateDirectoryA((environment.programFiles + "\\Tavrin").c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((environment.programFiles + "\\Other").c_str(), nullptr);
    for (const char* old : {"\\kva", "\\kva\\ini", "\\jre", "\\license_files"})
        CreateDirectoryA((folder + old).c_str(), nullptr);
    writeFile(folder + "\\kva\\ini\\kvprv64.ini", "[certificates]\r\n");
    writeFile(folder + "\\jre\\x.txt", "x");
    createKey(kApplications + "\\Brenmoor");
    store({{"INSTALLDIR", folder}, {"SUPPORTDIR", library.path()}, {"CP_INSTALLER", "node"},
           {"CP_ISKVSADRUNNING", "false"}, {"CP_IMPORTKVSAPREFERENCES", "YES"},
           {"CP_ConfigBackupFolder", scratch / "config"}});
    ActionRun run = runAction(caKVILFinalize, poisonedSession());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);

    std::vector<std::string> logged = loggedTexts(support);
    EXPECT_TRUE(has(logged, "Install Location is default hence the removal of special persmissions "
                            "is not required"));
    const std::string in = "\", \"" + library.path() + "\", 0) = 0";
    std::vector<std::string> journal = support.journal();
    EXPECT_TRUE(has(journal, "LaunchAppAndWait(\"cacls kvprv64.ini /E /P \"\"Power Users\"\":R "
                             "\"\"Terminal Server User\"\":R Users:R\", \"" +
                                 folder + "\\kva\\ini\", 0) = 0"));
    EXPECT_TRUE(has(journal, "UpdateProgressStatusMessage(" + std::to_string(package.session()) +
                                 ", \"Dienste werden gestartet. Bitte warten...\")"));
    std::vector<std::string> launched;
    for (const std::string& call : callsOf(support, "LaunchAppAndWait"))
        if (call.find("LaunchAppAndWait(\"net ") == 0 || call.find("LaunchAppAndWait(\"sc ") == 0)
            launched.push_back(call);
    const std::vector<std::string> expected = {
        "LaunchAppAndWait(\"net start \"\"WinMgmt\"\"" + in,
        "LaunchAppAndWait(\"net start \"\"dcstor64\"\"" + in,
        "LaunchAppAndWait(\"net start \"\"dcevt64\"\"" + in,
        "LaunchAppAndWait(\"net stop \"\"kvsad\"\"" + in,
        "LaunchAppAndWait(\"sc config \"\"kvsad\"\" start= disabled" + in,
        // Orvessa did not come up and preferences are imported: one more try.
        "LaunchAppAndWait(\"net start \"\"Orvessa\"\"" + in};
    EXPECT_EQ(expected, launched);
    EXPECT_TRUE(exists(environment.temp + "\\KVSAPrefsImportLog.txt"));

    // The removed product's folders go, then the emptied install folder and
    // its parent; Program Files still holds other folders and stays.
    EXPECT_FALSE(exists(folder));
    EXPECT_FALSE(exists(environment.programFiles + "\\Tavrin"));
    EXPECT_TRUE(exists(environment.programFiles));
    EXPECT_EQ("osia.installedversion=8.1.0\r\n", readFile("C:\\windows\\kvinstal.db"));
    EXPECT_TRUE(keyExists(kApplications + "\\Brenmoor"));
    EXPECT_FALSE(exists(library / "KVIL64.dll"));
}

// A server edition: the child of the test below, in a copy of this program
// that Wine shows a server release.
CHILD_TEST_F(Finalize, ServerRepairsACustomFolderThroughTheLauncher)
{
    ASSERT_FALSE(kvil::osIsWorkstation());
    SupportFolder library(scratch);
    OutsideJournal outside(library);
    store({{"INSTALLDIR", install}, {"SUPPORTDIR", library.path()}, {"CP_INSTALLER", "STATION"},
           {"CP_KVREBOOT", "YES"}});
    ActionRun run = runAction(caKVILFinalize, poisonedSession());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);

    const std::string session = std::to_string(package.session());
    auto log = [&](const std::string& text) {
        return "KVILLog(" + session + ", \"" + text + "\", 2)";
    };
    auto launch = [&](const std::string& line) {
        return "LaunchAppAndWait(\"" + kvil::replaceAll(line, "\"", "\"\"") + "\", \"" + install +
               "\", 0) = 0";
    };
    const std::vector<std::string> expected = {
        log("Install Location is custom so removing the special persmissions only for BUILTIN "
            "Users"),
        launch(kvil::installNuGetProviderCommand()),
        launch(kvil::installNtfsSecurityCommand()),
        log("To remove special permissions, first disabling the inheritence only for BUILTIN "
            "Users"),
        launch(kvil::inheritanceOffCommand(install)),
        log("After the inheritance is removed the special permissions is getting removed only for "
            "BUILTIN Users"),
        launch(kvil::removeUsersWriteAccessCommand(install))};
    std::vector<std::string> repair;
    for (const std::string& line : outside.view.journal())
        if (repair.size() < expected.size() &&
            (line.rfind("KVILLog(", 0) == 0 || line.rfind("LaunchAppAndWait(", 0) == 0))
            repair.push_back(line);
    EXPECT_EQ(expected, repair);
    EXPECT_FALSE(anyContains(recorder.lines(), "kvsa_hotfix_log"));  // no interpreter
}

TEST(FinalizeRelease, ServerEditionUsesTheLauncher)
{
    ScratchFolder scratch;
    std::string output;
    const char* child = "Finalize.ServerRepairsACustomFolderThroughTheLauncher";
    EXPECT_EQ(0u, runTestUnderRelease(scratch, "win2008", child, output)) << output;
    // The child must really have run its test, not skipped it.
    EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test.")) << output;
    EXPECT_EQ(std::string::npos, output.find("SKIPPED")) << output;
}

// Links a local user could plant before an installation that runs as SYSTEM:
// in the shared data file's folder, in the temporary and work folders, or as
// the shared data file's folder itself. The clean-up removes its own files
// and never what is behind a link.
class FinalizeLinks : public Finalize {
protected:
    // A folder outside every clean-up, holding a read-only file.
    std::string outside(const std::string& name)
    {
        const std::string folder = scratch / name;
        CreateDirectoryA(folder.c_str(), nullptr);
        writeFile(folder + "\\keep.txt", "keep");
        SetFileAttributesA((folder + "\\keep.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        return folder;
    }
    static bool intact(const std::string& folder)
    {
        DWORD attributes = GetFileAttributesA((folder + "\\keep.txt").c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
               readFile(folder + "\\keep.txt") == "keep";
    }
    ActionRun finalizeWith(const std::string& temp)
    {
        store({{"INSTALLDIR", install}, {"SUPPORTDIR", support.path()}, {"CP_INSTALLER", "STATION"},
               {"CP_TEMPDIR", temp}, {"CP_KVREBOOT", "YES"}});
        return runAction(caKVILFinalize, poisonedSession());
    }
    SupportFolder support{scratch};
};

TEST_F(FinalizeLinks, LinksInsideTheCleanedFoldersAreNotFollowed)
{
    const std::string target = outside("outside");
    const std::string temp = environment.temp + "\\kvwork";
    const std::string work = environment.programFiles + "\\tempini";
    const std::string shared = environment.systemDrive + "\\tempini";
    CreateDirectoryA(temp.c_str(), nullptr);
    CreateDirectoryA(work.c_str(), nullptr);
    writeFile(temp + "\\own.txt", "x");
    PlantedLink inTemp(temp + "\\link", target), inWork(work + "\\link", target),
        inShared(shared + "\\link", target);
    ASSERT_TRUE(inTemp.made() && inWork.made() && inShared.made());
    ActionRun run = finalizeWith(temp);
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_TRUE(intact(target));
    EXPECT_FALSE(exists(temp + "\\own.txt"));
    EXPECT_FALSE(exists(shared + "\\kvil100.txt"));
}

TEST_F(FinalizeLinks, ASharedDataFolderThatIsALinkIsRemovedAsALink)
{
    const std::string target = outside("outside");
    const std::string shared = environment.systemDrive + "\\tempini";
    RemoveDirectoryA(shared.c_str());
    PlantedLink sharedLink(shared, target);
    PlantedLink temp(environment.temp + "\\kvwork", target);
    ASSERT_TRUE(sharedLink.made() && temp.made());
    ActionRun run = finalizeWith(temp.path());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_TRUE(intact(target));
}

TEST_F(Finalize, OldFoldersAreNeverLookedForAtADriveRoot)
{
    // An empty or root install folder would name \kva, \jre ... at the root.
    const std::string root = scratch / "root";
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA((root + "\\jre").c_str(), nullptr);
    SetCurrentDirectoryA(root.c_str());
    kvil::removeOldInstallation("", "NODE");
    EXPECT_TRUE(exists(root + "\\jre"));
    SetCurrentDirectoryA(scratch.path().c_str());
}

TEST_F(Finalize, PreferencesExportThenImportRoundTrip)
{
    const std::string backup = scratch / "config";
    CreateDirectoryA(backup.c_str(), nullptr);
    writeFile(backup + "\\stale.txt", "old");
    for (const char* sub : {"\\kva", "\\kva\\ini", "\\apache-tomcat", "\\apache-tomcat\\conf"})
        CreateDirectoryA((install + sub).c_str(), nullptr);
    writeFile(install + "\\kva\\ini\\kva.properties", "a=b");
    writeFile(install + "\\kva\\ini\\produsefeedback.ini",
              "[ProductLog Properties]\r\nCustomLogFileSize=60\r\n");
    writeFile(install + "\\apache-tomcat\\conf\\server.xml", "<old/>");
    writeFile(install + "\\kva\\ini\\kvprv64.ini",
              "[certificates]\r\nkey_signing_algorithm=MD5\r\n[webserver]\r\nenableDWS=true\r\n");
    store({{"INSTALLDIR", install}, {"CP_ConfigBackupFolder", backup}});
    ActionRun run = runAction(caKVILExportKVSAPrefs, poisonedSession());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_FALSE(exists(backup + "\\stale.txt"));
    EXPECT_TRUE(exists(backup + "\\kva\\ini\\produsefeedback.ini"));
    // No keystore.db, yet server.xml gets the folder it needs.
    EXPECT_EQ("<old/>", readFile(backup + "\\apache-tomcat\\conf\\server.xml.bak"));
    std::string exportLog = readFile(environment.temp + "\\KVSAPrefsExportLog.txt");
    EXPECT_NE(std::string::npos,
              exportLog.find("Preferences File exported successfully: " + install +
                             "\\apache-tomcat\\conf\\server.xml\r\n"));
    EXPECT_NE(std::string::npos,
              exportLog.find("Preferences File does not exist in the source location for export" +
                             install + "\\wwwroot"));

    writeFile(install + "\\kva\\ini\\produsefeedback.ini", "[ProductLog Properties]\r\n");
    writeFile(install + "\\kva\\ini\\kvprv64.ini", "[certificates]\r\n");
    kvil::Installer installer(package.session());
    kvil::importPreferences(installer, backup, install);
    std::string importLog = readFile(environment.temp + "\\KVSAPrefsImportLog.txt");
    EXPECT_NE(std::string::npos,
              importLog.find("CustomLogFileSize value set to 50 in " + backup +
                             "\\kva\\ini\\produsefeedback.ini\r\nPreferences File imported"));
    char value[32] = {};
    GetPrivateProfileStringA("ProductLog Properties", "CustomLogFileSize", "", value, 32,
                             (install + "\\kva\\ini\\produsefeedback.ini").c_str());
    EXPECT_STREQ("50", value);
    GetPrivateProfileStringA("certificates", "key_signing_algorithm", "", value, 32,
                             (install + "\\kva\\ini\\kvprv64.ini").c_str());
    EXPECT_STREQ("SHA256", value);
    GetPrivateProfileStringA("webserver", "enableDWS", "", value, 32,
                             (install + "\\kva\\ini\\kvprv64.ini").c_str());
    EXPECT_STREQ("true", value);
}

TEST_F(Finalize, NodeUpgradeRegistersInstrumentationAndKeepsARegisteredProduct)
{
    SupportFolder library(scratch);
    OutsideJournal outside(library);
    const SupportFolder& support = outside.view;
    for (const char* sub : {"\\sm", "\\jre", "\\jre\\bin", "\\kvsa", "\\kvsa\\ini"})
        CreateDirectoryA((install + sub).c_str(), nullptr);
    for (const char* file : {"\\sm\\bccfg3.inf", "\\sm\\bccfg5.inf", "\\jre\\bin\\java.exe"})
        writeFile(install + file, "x");
    writeFile(install + "\\kvsa\\ini\\dcisdy64.ini", "[System Info]\r\n");
    const std::string eventSource = "SYSTEM\\CurrentControlSet\\services\\eventlog\\System\\Orvessa";
    createKey(eventSource);
    setRegistryString(kApplications + "\\SystemsManagement", "VENDOR", "Tavrin");
    createKey(kApplications + "\\DataEngine");
    createKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvessa");

    // A real service named Orvessa, running: the backup folders go.
    TestService service("Orvessa");
    ASSERT_TRUE(service.created());
    service.start();
    const std::string backup = environment.programFiles + "\\tempini\\Orvessa";
    const std::string config = scratch / "config";
    CreateDirectoryA((environment.programFiles + "\\tempini").c_str(), nullptr);
    CreateDirectoryA(backup.c_str(), nullptr);
    CreateDirectoryA(config.c_str(), nullptr);

    store({{"INSTALLDIR", install}, {"SUPPORTDIR", library.path()}, {"CP_INSTALLER", "NODE"},
           {"CP_UPGRADEFLAG", "yes"}, {"WMI", "INSTALL"}, {"IWS", "install"},
           {"CP_TOMCATTOTOMCAT", "tomcattotomcat"}, {"CP_ISKVSADRUNNING", "False"},
           {"CP_MESSAGE_FORMAT", "Traditional"}, {"CP_OSLOGFILTER", "2"},
           {"CP_ConfigBackupFolder", config}});
    ActionRun run = runAction(caKVILFinalize, poisonedSession());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);

    std::vector<std::string> journal = support.journal();
    const std::string windows = "\"C:\\windows\", 0) = 0";
    EXPECT_TRUE(has(journal, "LaunchAppAndWait(\"pnputil.exe -i -a \"\"" + install +
                                 "\\sm\\bccfg3.inf\"\"\", " + windows));
    EXPECT_FALSE(anyContains(journal, "bccfg5.inf"));
    EXPECT_TRUE(has(journal, "LaunchAppAndWait(\"mofcomp \"\"" + install +
                                 "\\kva\\mof\\invcim.mof\"\"\", " + windows));
    EXPECT_TRUE(anyContains(journal, "LaunchAppAndWait(\"net start \"\"kvsad\"\""));
    std::vector<std::string> logged = loggedTexts(support);
    EXPECT_TRUE(has(logged, "SWRaid pnputil command for 12G server executed"));
    EXPECT_TRUE(has(logged, "UpgradeUtilityCommand for IWS 6.1.0.1 patch code merge is" +
                                kvil::upgradeUtilityCommand(install, "tomcattotomcat")));

    EXPECT_EQ(install + "\\kvsa\\bin\\dcship64.dll",
              kvil::readRegistryString(HKEY_LOCAL_MACHINE, eventSource, "EventMessageFile"));
    EXPECT_EQ("disabled", kvil::readRegistryString(HKEY_LOCAL_MACHINE,
                                                   kApplications + "\\SystemsManagement", "OSLOG"));
    EXPECT_EQ("", kvil::readRegistryString(HKEY_LOCAL_MACHINE,
                                           kApplications + "\\SystemsManagement", "VENDOR"));
    EXPECT_EQ(install + "\\kva",
              kvil::readRegistryString(HKEY_LOCAL_MACHINE,
                                       "SOFTWARE\\Tavrin Computer Corporation\\Tavrin KVA",
                                       "InstallPath"));
    char value[32] = {};
    GetPrivateProfileStringA("System Info", "Message Preference", "", value, 32,
                             (install + "\\kvsa\\ini\\dcisdy64.ini").c_str());
    EXPECT_STREQ("Legacy", value);

    EXPECT_FALSE(exists(config));
    EXPECT_FALSE(exists(environment.programFiles + "\\tempini"));
    EXPECT_TRUE(exists(install + "\\jre"));  // still registered: nothing old is removed
    EXPECT_FALSE(keyExists("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvessa"));
    EXPECT_EQ("osia.installedversion=8.1.0\r\n", readFile("C:\\windows\\kvinstal.db"));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, eventSource.c_str());
}

namespace {

std::string iniText(const std::string& file, const char* section, const char* key)
{
    char value[32] = {};
    GetPrivateProfileStringA(section, key, "?", value, sizeof(value), file.c_str());
    return value;
}

}  // namespace

// An export meets a preference file held open by another program, or a file
// where the new backup's folder must be: the backup of the earlier export
// stays as it was, the log names the file and the reason, and "exported
// successfully" is not written. Once the fault is gone the new backup
// replaces the old one.
TEST_F(Finalize, AnExportThatCannotCopyEveryFileKeepsTheEarlierBackup)
{
    const std::string backup = scratch / "config";
    const std::string properties = install + "\\kva\\ini\\kva.properties";
    for (const char* sub : {"\\kva", "\\kva\\ini"})
        CreateDirectoryA((install + sub).c_str(), nullptr);
    writeFile(properties, "a=new");
    writeFile(install + "\\kva\\ini\\kvprv64.ini", "[certificates]\r\nkey_signing_algorithm=SHA256\r\n");
    store({{"INSTALLDIR", install}, {"CP_ConfigBackupFolder", backup}});
    auto oldBackup = [&] {
        kvil::removeDirectoryTree(backup, true);
        for (const char* sub : {"", "\\kva", "\\kva\\ini"})
            CreateDirectoryA((backup + sub).c_str(), nullptr);
        writeFile(backup + "\\kva\\ini\\kva.properties", "a=old");
    };
    std::unique_ptr<HeldOpen> held;
    const struct {
        const char* fault;
        std::function<void()> make;
        std::string line;
    } rows[] = {
        {"a preference file held open", [&] { held.reset(new HeldOpen(properties, "a=new")); },
         kvil::couldNotStage(properties, ERROR_SHARING_VIOLATION)},
        {"a file where the new backup's folder must be", [&] { writeFile(backup + ".new", "x"); },
         kvil::couldNotStage(properties, ERROR_PATH_NOT_FOUND)},
    };
    MSIHANDLE session = poisonedSession();
    InstallerLog log;
    const std::string routineLog = environment.temp + "\\KVSAPrefsExportLog.txt";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        oldBackup();
        log.clear();
        row.make();
        ActionRun failed = runAction(caKVILExportKVSAPrefs, session);
        EXPECT_EQ(0u, failed.result);
        EXPECT_CLEAN(failed);
        EXPECT_TRUE(log.contains(row.line)) << row.line;
        EXPECT_EQ("a=old", readFile(backup + "\\kva\\ini\\kva.properties"));
        EXPECT_FALSE(exists(backup + "\\kvprv_key_signing_algorithm.ini"));
        EXPECT_EQ(std::string::npos, readFile(routineLog).find("exported successfully"));

        held.reset();
        DeleteFileA((backup + ".new").c_str());
        ActionRun ordinary = runAction(caKVILExportKVSAPrefs, session);
        EXPECT_EQ(0u, ordinary.result);
        EXPECT_EQ("a=new", readFile(backup + "\\kva\\ini\\kva.properties"));
        EXPECT_EQ("SHA256", iniText(backup + "\\kvprv_key_signing_algorithm.ini", "certificates",
                                    "key_signing_algorithm"));
        EXPECT_NE(std::string::npos,
                  readFile(routineLog).find("Preferences File exported successfully: " + properties));
        EXPECT_FALSE(exists(backup + ".new"));
        EXPECT_FALSE(exists(backup + ".old"));
    }
}

// An import meets a damaged backup (an empty file, a value file cut short or
// empty, an empty value) or an installed file held open: nothing set in the
// installation is replaced by less, the log names the file, and "imported
// successfully" is written only for a file that copied. Once the backup is
// whole again the import works.
TEST_F(Finalize, AnImportNeverReplacesAValueOrFileByADamagedOne)
{
    const std::string backup = scratch / "config";
    const std::string properties = install + "\\kva\\ini\\kva.properties";
    const std::string keys = install + "\\kva\\ini\\kvprv64.ini";
    const std::string events = install + "\\kvsa\\ini\\dcevdy64.ini";
    const std::string savedProperties = backup + "\\kva\\ini\\kva.properties";
    const std::string savedKeys = backup + "\\kvprv_key_signing_algorithm.ini";
    const std::string savedEvents = backup + "\\dcevdy_SEL_Entry_Info.ini";
    CreateDirectoryA(backup.c_str(), nullptr);
    for (const char* sub : {"\\kva", "\\kva\\ini", "\\kvsa", "\\kvsa\\ini"}) {
        CreateDirectoryA((install + sub).c_str(), nullptr);
        CreateDirectoryA((backup + sub).c_str(), nullptr);
    }
    auto whole = [&] {
        writeFile(properties, "a=new");
        writeFile(keys, "[certificates]\r\nkey_signing_algorithm=SHA384\r\n");
        writeFile(events, "[SEL Entry Information]\r\nLast Entry Event ID=7\r\n");
        writeFile(savedProperties, "a=saved");
        writeFile(savedKeys, "[certificates]\r\nkey_signing_algorithm=SHA512\r\n");
        writeFile(savedEvents, "[SEL Entry Information]\r\nLast Entry Event ID=42\r\n");
    };
    std::unique_ptr<HeldOpen> held;
    const std::string skipped = "Skipped damaged backup file ";
    const struct {
        const char* fault;
        std::function<void()> make;
        std::string line;  // empty: none
    } rows[] = {
        {"an empty backup file", [&] { writeFile(savedProperties, ""); },
         skipped + savedProperties + "."},
        {"a value file cut short", [&] { writeFile(savedKeys, "[certificates]\r\nkey_sig"); },
         skipped + savedKeys + "."},
        {"an empty value file", [&] { writeFile(savedEvents, ""); }, skipped + savedEvents + "."},
        {"an empty value", [&] { writeFile(savedKeys, "[certificates]\r\nkey_signing_algorithm=\r\n"); },
         ""},
        {"an installed file held open", [&] { held.reset(new HeldOpen(properties, "a=new")); },
         kvil::couldNotWrite(properties, ERROR_SHARING_VIOLATION)},
    };
    store({{"INSTALLDIR", install}, {"CP_ConfigBackupFolder", backup}});
    MSIHANDLE session = poisonedSession();
    InstallerLog log;
    const std::string routineLog = environment.temp + "\\KVSAPrefsImportLog.txt";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        whole();
        log.clear();
        row.make();
        ActionRun damaged = runAction(caKVILImportKVSAPrefs, session);
        EXPECT_EQ(0u, damaged.result);
        EXPECT_CLEAN(damaged);
        if (!row.line.empty()) {
            EXPECT_TRUE(log.contains(row.line)) << row.line;
        }
        const bool wasHeld = held != nullptr;
        held.reset();
        const bool propertiesWhole = readFile(savedProperties) == "a=saved" && !wasHeld;
        EXPECT_EQ(propertiesWhole ? "a=saved" : "a=new", readFile(properties));
        EXPECT_EQ(propertiesWhole, readFile(routineLog).find("imported successfully: " + savedProperties) !=
                                       std::string::npos);
        const bool keysWhole = iniText(savedKeys, "certificates", "key_signing_algorithm") == "SHA512";
        EXPECT_EQ(keysWhole ? "SHA512" : "SHA384", iniText(keys, "certificates", "key_signing_algorithm"));
        EXPECT_EQ(readFile(savedEvents).empty() ? "7" : "42",
                  iniText(events, "SEL Entry Information", "Last Entry Event ID"));

        whole();
        ActionRun ordinary = runAction(caKVILImportKVSAPrefs, session);
        EXPECT_EQ(0u, ordinary.result);
        EXPECT_EQ("a=saved", readFile(properties));
        EXPECT_EQ("SHA512", iniText(keys, "certificates", "key_signing_algorithm"));
        EXPECT_EQ("42", iniText(events, "SEL Entry Information", "Last Entry Event ID"));
    }
}
