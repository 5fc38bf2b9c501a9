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
    using Fields = std::array<std::string, 7>;
    EXPECT_EQ((Fields{"a", "5", "C:\\s", "OS", "1031", "", ""}), kvil::redistFields(";a;;;5;C:\\s;;OS;1031;"));
    EXPECT_EQ(Fields{}, kvil::redistFields(""));
    EXPECT_EQ((Fields{"1", "2", "3", "4", "5", "6", "7"}), kvil::redistFields("1;2;3;4;5;6;7;8;9"));
}

TEST(RedistRules, PackageByOsNameFirstMatchWinsAndOnlyWindows8HidesItsCommand)
{
    const std::string r2 = "\\Windows8.1-KB2999226-x64.msu", rt = "\\Windows8-RT-KB2999226-x64.msu";
    struct Case { const char* os; const char* line; std::string file; bool logs; } cases[] = {
        {"Windows Server 2012 R2 Standard", "This is Windows 2012 R2", r2, true},
        {"Windows Server 2012 Datacenter", "This is Windows 2012", rt, true},
        {"windows server 2012 r2", "This is Windows 2012", rt, true},
        {"Windows 8.1 Pro", "This is Windows 8.1", r2, true},
        {"Windows 8 Enterprise", "This is Windows 8", rt, false},
        {"Windows Server 2008 R2", "This is Windows 8", rt, false},
    };
    for (const Case& c : cases) {
        const kvil::UpdatePackage* package = kvil::updatePackageFor(c.os);
        ASSERT_TRUE(package != nullptr) << c.os;
        EXPECT_STREQ(c.line, package->logLine) << c.os;
        EXPECT_EQ(c.file, package->file) << c.os;
        EXPECT_EQ(c.logs, package->logsCommandLine) << c.os;
    }
    EXPECT_TRUE(kvil::updatePackageFor("Windows Server 2016") == nullptr);
}

class RunVCRedist : public ::testing::Test {
protected:
    // Ordinary properties hold poison: a deferred action reads only CustomActionData.
    ActionRun run(DWORD wusaExit, const std::string& uiLevel, const std::string& os)
    {
        recorder.exitCode("wusa", wusaExit);
        if (!package.session())
            package.property("UILevel", "5").property("SUPPORTDIR", "C:\\poison")
                .property("ProductLanguage", "1036").open();
        package.set("CustomActionData", "x;;y;" + uiLevel + ";C:\\sup;" + os + ";1031");
        return runAction(caKVILRunVCRedist, package.session());
    }
    std::string command(const char* file) const
    {
        return std::string("wusa \"C:\\sup\\") + file + "\" /quiet /log:\"" +
               environment.systemDrive + "\\windows\\temp\\vclog.log\"";
    }
    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    Recorder recorder{scratch};
    InstallerLog log;
    TestPackage package{scratch};
};

TEST_F(RunVCRedist, NotApplicableShowsMessage2059InTheFieldsLanguageOrLogsIt)
{
    ActionRun full = run(0x80240017, "5", "Windows Server 2012 R2");
    EXPECT_EQ(1603u, full.result);
    EXPECT_CLEAN(full);
    ASSERT_EQ(1u, full.boxes.size());
    kvil::Installer installer(package.session());
    EXPECT_EQ(kvil::loadLocalisedStringForCode(installer, 2059, "1031"), full.boxes[0].text);
    EXPECT_NE(kText2059, full.boxes[0].text);
    EXPECT_EQ(kvil::loadLocalisedString(installer, 2001), full.boxes[0].caption);
    EXPECT_TRUE(full.boxes[0].ok && full.boxes[0].errorIcon);
    std::string r2 = command("Windows8.1-KB2999226-x64.msu");
    EXPECT_EQ(std::vector<std::string>{"wusa|" + r2}, recorder.lines());
    for (std::string line : {"The UILEVEL is : 5", "The SUPPORTDIR is : C:\\sup",
                             "OS Name : Windows Server 2012 R2", "This is Windows 2012 R2"})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_TRUE(log.contains("The KB that is run: " + r2));

    ActionRun quiet = run(0x80240017, "3", "Windows 8 Pro");
    EXPECT_EQ(1603u, quiet.result);
    EXPECT_TRUE(quiet.boxes.empty());
    std::string rt = command("Windows8-RT-KB2999226-x64.msu");
    EXPECT_TRUE(log.contains(kText2059 + rt));
    EXPECT_FALSE(log.contains("The KB that is run: " + rt));
}

TEST_F(RunVCRedist, EveryOtherExitCodeIsAcceptedAndUnaffectedReleasesRunNothing)
{
    EXPECT_EQ(0u, run(0, "5", "Windows Server 2012").result);
    EXPECT_EQ(0u, run(3010, "5", "Windows Server 2012").result);
    ActionRun none = run(0x80240017, "5", "Windows Server 2016");
    EXPECT_EQ(0u, none.result);
    EXPECT_CLEAN(none);
    EXPECT_EQ(2u, recorder.lines().size());
}

TEST(JreUpgradeRules, VersionMajorMinorAndTheMigrationRule)
{
    struct Case { const char* recorded; int major, minor; bool migrates; } cases[] = {
        {"1.7.0_80", 1, 7, true}, {"1.8.0_181", 1, 8, false}, {"11.0.2", 11, 0, false},
        {"..1..6", 1, 6, true},   {"x.y", 0, 0, false},       {"1", 1, 0, true},
    };
    for (const Case& c : cases) {
        kvil::JavaVersion version = kvil::javaVersionOf(c.recorded);
        EXPECT_EQ(c.major * 100 + c.minor, version.major * 100 + version.minor) << c.recorded;
        EXPECT_EQ(c.migrates, kvil::migrationNeeded(true, version)) << c.recorded;
        EXPECT_FALSE(kvil::migrationNeeded(false, version)) << c.recorded;
    }
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
    void SetUp() override
    {
        scrubProductRegistry();
        // A java.exe that records its command line, below an INSTALLDIR ending in "\".
        for (const char* folder : {"\\app", "\\app\\jre", "\\app\\jre\\bin"})
            CreateDirectoryA((scratch.path() + folder).c_str(), nullptr);
        CopyFileA((programFolder() + "\\recorder.exe").c_str(), java.c_str(), FALSE);
        package.property("SUPPORTDIR", support.path()).property("INSTALLDIR", install).open();
    }
    void TearDown() override { scrubProductRegistry(); }
    ScratchFolder scratch;
    std::string install = scratch.path() + "\\app\\", java = install + "\\jre\\bin\\java.exe";
    SupportFolder support{scratch};
    Recorder recorder{scratch};
    TestPackage package{scratch};
};

TEST_F(JreUpgrade, ARecordedJava7MigratesNativeViewFirst)
{
    setRegistryString(kJreKey, "Version", "1.7.0_80");
    setRegistryString(kJreKey, "Version", "1.8.0_181", true);
    ActionRun run = runAction(caKVILJREUpgrade, package.session());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    std::string command = kvil::migrationCommandLine(install, support.path());
    EXPECT_EQ(std::vector<std::string>{"java|" + command}, recorder.lines());
    EXPECT_EQ((std::vector<std::string>{command, "UpgradeUtilityCommand executed from JREUpgrade function call"}),
              loggedTexts(support));
}

TEST_F(JreUpgrade, TheThirtyTwoBitViewIsReadWhenTheNativeOneIsEmptyAndNothingElseMigrates)
{
    EXPECT_EQ(0u, runAction(caKVILJREUpgrade, package.session()).result);
    EXPECT_EQ(std::vector<std::string>{"No Previously installed JRE present in the system, exit from "
                                       "JREUpgrade function call"},
              loggedTexts(support));
    setRegistryString(kJreKey, "Version", "1.6.0_45", true);
    EXPECT_EQ(0u, runAction(caKVILJREUpgrade, package.session()).result);
    EXPECT_EQ("No x64 JRE present in the system, reading from 32 bit hive of registry and proceeding "
              "with JREUpgrade function call", loggedTexts(support).at(1));
    EXPECT_EQ(1u, recorder.lines().size());
    setRegistryString(kJreKey, "Version", "1.8.0_181");
    EXPECT_EQ(0u, runAction(caKVILJREUpgrade, package.session()).result);
    setRegistryString(kJreKey, "Version", "1.7.0_80");
    DeleteFileA(java.c_str());
    EXPECT_EQ(0u, runAction(caKVILJREUpgrade, package.session()).result);
    EXPECT_EQ(1u, callsOf(support, "LaunchAppAndWait").size());
}

TEST_F(JreUpgrade, AnUnusableLibraryStopsTheInstallationEvenWhenSilent)
{
    package.set("UILevel", "2");
    package.set("SUPPORTDIR", scratch / "none");
    ActionRun missing = runAction(caKVILJREUpgrade, package.session());
    EXPECT_EQ(1603u, missing.result);
    EXPECT_CLEAN(missing);
    ASSERT_EQ(1u, missing.boxes.size());
    EXPECT_EQ("caKVILJREUpgrade", missing.boxes[0].caption);
    EXPECT_EQ("Failed to load library " + scratch / "none" + "\\KVIL64.dll", missing.boxes[0].text);

    ScratchFolder other;
    SupportFolder partial(other, "r14g-supported.ini", "LaunchAppAndWait");
    package.set("SUPPORTDIR", partial.path());
    ActionRun run = runAction(caKVILJREUpgrade, package.session());
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("Failed to get address for function LaunchAppAndWait", run.boxes[0].text);
}
