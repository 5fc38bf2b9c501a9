// caKVILRunVCRedist (wusa and KB2999226) and caKVILJREUpgrade (key-store
// migration of an old Java runtime).
#include "harness/support_folder.h"
#include "install/jre_upgrade.h"
#include "install/run_vc_redist.h"
#include "runtime/installer.h"
#include "runtime/localised.h"

using namespace test;

extern "C" UINT __stdcall caKVILRunVCRedist(MSIHANDLE);
extern "C" UINT __stdcall caKVILJREUpgrade(MSIHANDLE);

namespace {
const std::string kText2059 =
    "Microsoft KB2999226 failed to install. KB2999226 is one of the prerequisite to install "
    "Orvessa 9.1.0. Ensure that the Microsoft operating system contains the April 2014 update "
    "(KB2919355) or later and then run the installer.";
const std::string kJreKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\JRE";
}  // namespace

TEST(RedistRules, FieldsCollapseEmptyRunsAndReadMissingOnesAsEmpty)
{
    struct Case { std::string data; std::array<std::string, 7> fields; } cases[] = {
        {"a;b;5;C:\\s;Windows 8;1033", {"a", "b", "5", "C:\\s", "Windows 8", "1033", ""}},
        {";a;;;5;C:\\s;;OS;1031;", {"a", "5", "C:\\s", "OS", "1031", "", ""}},
        {"", {"", "", "", "", "", "", ""}},
        {"1;2;3;4;5;6;7;8;9", {"1", "2", "3", "4", "5", "6", "7"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.fields, kvil::redistFields(c.data)) << c.data;
}

TEST(RedistRules, PackageByOsNameFirstMatchWinsAndOnlyWindows8HidesItsCommand)
{
    struct Case { const char* os; const char* line; const char* file; bool logs; } cases[] = {
        {"Windows Server 2012 R2 Standard", "This is Windows 2012 R2", "\\Windows8.1-KB2999226-x64.msu", true},
        {"Windows Server 2012 Datacenter", "This is Windows 2012", "\\Windows8-RT-KB2999226-x64.msu", true},
        {"Windows 8.1 Pro", "This is Windows 8.1", "\\Windows8.1-KB2999226-x64.msu", true},
        {"Windows 8 Enterprise", "This is Windows 8", "\\Windows8-RT-KB2999226-x64.msu", false},
        {"Windows Server 2008 R2", "This is Windows 8", "\\Windows8-RT-KB2999226-x64.msu", false},
        {"windows server 2012 r2", "This is Windows 2012", "\\Windows8-RT-KB2999226-x64.msu", true},
        {"Windows Server 2016", nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        const kvil::UpdatePackage* package = kvil::updatePackageFor(c.os);
        ASSERT_EQ(c.line == nullptr, package == nullptr) << c.os;
        if (!package)
            continue;
        EXPECT_STREQ(c.line, package->logLine) << c.os;
        EXPECT_STREQ(c.file, package->file) << c.os;
        EXPECT_EQ(c.logs, package->logsCommandLine) << c.os;
    }
    EXPECT_EQ("wusa \"C:\\Temp\\sup\\Windows8.1-KB2999226-x64.msu\" /quiet /log:\"C:\\windows\\temp\\vclog.log\"",
              kvil::wusaCommandLine("C:\\Temp\\sup", *kvil::updatePackageFor("2012 R2"), "C:"));
}

class RunVCRedist : public ::testing::Test {
protected:
    // Ordinary properties hold poison: a deferred action reads only CustomActionData.
    MSIHANDLE session(const std::string& uiLevel, const std::string& os, const std::string& language)
    {
        if (!package.session())
            package.property("UILevel", "5").property("SUPPORTDIR", "C:\\poison")
                .property("ProductLanguage", "1036").open();
        package.set("CustomActionData", "x;;y;" + uiLevel + ";C:\\sup;" + os + ";" + language);
        return package.session();
    }
    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    Recorder recorder{scratch};
    InstallerLog log;
    TestPackage package{scratch};
};

TEST_F(RunVCRedist, NotApplicableAtFullUiShowsMessage2059InTheFieldsLanguage)
{
    recorder.exitCode("wusa", 0x80240017);
    MSIHANDLE handle = session("5", "Windows Server 2012 R2", "1031");
    ActionRun run = runAction(caKVILRunVCRedist, handle);
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    kvil::Installer installer(handle);
    EXPECT_EQ(kvil::loadLocalisedStringForCode(installer, 2059, "1031"), run.boxes[0].text);
    EXPECT_NE(kText2059, run.boxes[0].text);
    EXPECT_EQ(kvil::loadLocalisedString(installer, 2001), run.boxes[0].caption);
    EXPECT_TRUE(run.boxes[0].ok && run.boxes[0].errorIcon);
    const std::string command = "wusa \"C:\\sup\\Windows8.1-KB2999226-x64.msu\" /quiet /log:\"" +
                                environment.systemDrive + "\\windows\\temp\\vclog.log\"";
    EXPECT_EQ(std::vector<std::string>{"wusa|" + command}, recorder.lines());
    for (const char* line : {"The UILEVEL is : 5", "The SUPPORTDIR is : C:\\sup",
                             "OS Name : Windows Server 2012 R2", "This is Windows 2012 R2"})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_TRUE(log.contains("The KB that is run: " + command));
}

TEST_F(RunVCRedist, NotApplicableBelowFullUiLogsTheTextWithTheCommand)
{
    recorder.exitCode("wusa", 0x80240017);
    ActionRun run = runAction(caKVILRunVCRedist, session("3", "Windows 8 Pro", "1031"));
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_TRUE(run.boxes.empty());
    const std::string command = "wusa \"C:\\sup\\Windows8-RT-KB2999226-x64.msu\" /quiet /log:\"" +
                                environment.systemDrive + "\\windows\\temp\\vclog.log\"";
    EXPECT_TRUE(log.contains(kText2059 + command));
    EXPECT_FALSE(log.contains("The KB that is run: " + command));
}

TEST_F(RunVCRedist, EveryOtherExitCodeIsAcceptedAndUnaffectedReleasesRunNothing)
{
    for (DWORD code : {0ul, 3010ul}) {
        recorder.exitCode("wusa", code);
        ActionRun run = runAction(caKVILRunVCRedist, session("5", "Windows Server 2012", "1033"));
        EXPECT_EQ(0u, run.result) << code;
        EXPECT_TRUE(run.boxes.empty());
    }
    EXPECT_EQ(2u, recorder.lines().size());
    ActionRun run = runAction(caKVILRunVCRedist, session("5", "Windows Server 2016", "1033"));
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ(2u, recorder.lines().size());
}

TEST(JreUpgradeRules, VersionMajorMinorAndTheMigrationRule)
{
    struct Case { const char* recorded; int major, minor; bool migrates; } cases[] = {
        {"1.7.0_80", 1, 7, true}, {"1.6.0_45", 1, 6, true},   {"1.8.0_181", 1, 8, false},
        {"11.0.2", 11, 0, false}, {"..1..7", 1, 7, true},     {"x.y", 0, 0, false},
        {"1", 1, 0, true},
    };
    for (const Case& c : cases) {
        kvil::JavaVersion version = kvil::javaVersionOf(c.recorded);
        EXPECT_EQ(c.major, version.major) << c.recorded;
        EXPECT_EQ(c.minor, version.minor) << c.recorded;
        EXPECT_EQ(c.migrates, kvil::migrationNeeded(true, version)) << c.recorded;
        EXPECT_FALSE(kvil::migrationNeeded(false, version)) << c.recorded;
    }
}

TEST(JreUpgradeRules, MigrationCommandLineKeepsTheDoubledBackslash)
{
    EXPECT_EQ("\"C:\\Apps\\\\jre\\bin\\java.exe\" -cp \"S:\\sup\\KVKSMIG.jar\";"
              "\"C:\\Apps\\\\apache-tomcat\\webapps\\kvsa\\WEB-INF\\shared\\KVCOMMON.jar\";"
              "\"C:\\Apps\\\\apache-tomcat\\webapps\\kvsa\\WEB-INF\\lib\\xalan.jar\";"
              "\"C:\\Apps\\\\apache-tomcat\\webapps\\kvsa\\WEB-INF\\lib\\xerces.jar\""
              " -Djava.library.path=\"C:\\Apps\\\\kvsa\\bin\";\"C:\\Apps\\\\kva\\bin\" "
              "com.tavrin.kva.common.KVAKSMigrate \"C:\\Apps\\\\\"",
              kvil::migrationCommandLine("C:\\Apps\\", "S:\\sup"));
}

class JreUpgrade : public ::testing::Test {
protected:
    void SetUp() override { scrubProductRegistry(); }
    void TearDown() override { scrubProductRegistry(); }
    // A java.exe that records its command line, below an INSTALLDIR ending in "\".
    MSIHANDLE session(const std::string& supportFolder, bool withJava = true)
    {
        std::string install = scratch.path() + "\\app\\";
        if (withJava) {
            CreateDirectoryA(install.c_str(), nullptr);
            CreateDirectoryA((install + "\\jre").c_str(), nullptr);
            CreateDirectoryA((install + "\\jre\\bin").c_str(), nullptr);
            CopyFileA((programFolder() + "\\recorder.exe").c_str(),
                      (install + "\\jre\\bin\\java.exe").c_str(), FALSE);
        }
        return package.property("SUPPORTDIR", supportFolder).property("INSTALLDIR", install).open();
    }
    ScratchFolder scratch;
    Recorder recorder{scratch};
    TestPackage package{scratch};
};

TEST_F(JreUpgrade, ARecordedJava7MigratesWithTheBuiltCommandLine)
{
    SupportFolder support(scratch);
    setRegistryString(kJreKey, "Version", "1.7.0_80");
    setRegistryString(kJreKey, "Version", "1.8.0_181", true);  // the native view comes first
    ActionRun run = runAction(caKVILJREUpgrade, session(support.path()));
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    std::string command = kvil::migrationCommandLine(scratch.path() + "\\app\\", support.path());
    EXPECT_EQ(std::vector<std::string>{"java|" + command}, recorder.lines());
    EXPECT_EQ((std::vector<std::string>{command,
                                        "UpgradeUtilityCommand executed from JREUpgrade function call"}),
              loggedTexts(support));
}

TEST_F(JreUpgrade, TheThirtyTwoBitViewIsReadWhenTheNativeOneIsEmpty)
{
    SupportFolder support(scratch);
    setRegistryString(kJreKey, "Version", "1.6.0_45", true);
    ActionRun run = runAction(caKVILJREUpgrade, session(support.path()));
    EXPECT_EQ(0u, run.result);
    EXPECT_EQ(1u, recorder.lines().size());
    std::vector<std::string> logged = loggedTexts(support);
    ASSERT_EQ(3u, logged.size());
    EXPECT_EQ("No x64 JRE present in the system, reading from 32 bit hive of registry and proceeding "
              "with JREUpgrade function call", logged[0]);
}

TEST_F(JreUpgrade, NoMigrationWithoutARecordedOldJavaOrWithoutJavaExe)
{
    SupportFolder support(scratch);
    ActionRun none = runAction(caKVILJREUpgrade, session(support.path()));
    EXPECT_EQ(0u, none.result);
    EXPECT_CLEAN(none);
    EXPECT_EQ(std::vector<std::string>{"No Previously installed JRE present in the system, exit from "
                                       "JREUpgrade function call"},
              loggedTexts(support));
    for (const char* version : {"1.8.0_181", "11.0.2"}) {
        setRegistryString(kJreKey, "Version", version);
        EXPECT_EQ(0u, runAction(caKVILJREUpgrade, package.session()).result) << version;
    }
    DeleteFileA((scratch.path() + "\\app\\jre\\bin\\java.exe").c_str());
    setRegistryString(kJreKey, "Version", "1.7.0_80");
    EXPECT_EQ(0u, runAction(caKVILJREUpgrade, package.session()).result);
    EXPECT_TRUE(recorder.lines().empty());
    EXPECT_TRUE(callsOf(support, "LaunchAppAndWait").empty());
}

TEST_F(JreUpgrade, AnUnusableLibraryStopsTheInstallationAtEveryUiLevel)
{
    package.property("UILevel", "2");
    ActionRun missing = runAction(caKVILJREUpgrade, session(scratch / "none", false));
    EXPECT_EQ(1603u, missing.result);
    EXPECT_CLEAN(missing);
    ASSERT_EQ(1u, missing.boxes.size());
    EXPECT_EQ("caKVILJREUpgrade", missing.boxes[0].caption);
    EXPECT_EQ("Failed to load library " + scratch / "none" + "\\KVIL64.dll", missing.boxes[0].text);

    SupportFolder partial(scratch, "r14g-supported.ini", "LaunchAppAndWait");
    package.set("SUPPORTDIR", partial.path());
    ActionRun run = runAction(caKVILJREUpgrade, package.session());
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("Failed to get address for function LaunchAppAndWait", run.boxes[0].text);
    EXPECT_TRUE(run.boxes[0].errorIcon);
}
