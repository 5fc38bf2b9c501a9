// caKVILRunVCRedist (wusa and KB2999226) and caKVILJREUpgrade (key-store
// migration of an old Java runtime).
#include "harness/support_folder.h"
#include "install/jre_upgrade.h"
#include "install/run_vc_redist.h"
#include "runtime/installer.h"
#include "runtime/localised.h"
#include "runtime/text.h"

using namespace test;
using Lines = std::vector<std::string>;

#include "runtime/exports.h"

TEST(RedistRules, FieldsAndThePackageByOsName)
{
    using Fields = std::array<std::string, 7>;
    EXPECT_EQ((Fields{"a", "5", "C:\\s", "OS", "1031", "", ""}),
              kvil::redistFields(";a;;;5;C:\\s;;OS;1031;"));
    EXPECT_EQ(Fields{}, kvil::redistFields(""));
    EXPECT_EQ((Fields{"1", "2", "3", "4", "5", "6", "7"}), kvil::redistFields("1;2;3;4;5;6;7;8;9"));
    const std::string r2 = "|\\Windows8.1-KB2999226-x64.msu", rt = "|\\Windows8-RT-KB2999226-x64.msu";
    const std::pair<const char*, std::string> cases[] = {  // OS name, line|file|command logged
        {"Windows Server 2012 R2 Standard", "This is Windows 2012 R2" + r2 + "|1"},
        {"Windows Server 2012 Datacenter", "This is Windows 2012" + rt + "|1"},
        {"windows server 2012 r2", "This is Windows 2012" + rt + "|1"},
        {"Windows 8.1 Pro", "This is Windows 8.1" + r2 + "|1"},
        {"Windows 8 Enterprise", "This is Windows 8" + rt + "|0"},
        {"Windows Server 2008 R2", "This is Windows 8" + rt + "|0"},
        {"Windows Server 2016", "none"},
    };
    for (const auto& [os, expected] : cases) {
        const kvil::UpdatePackage* p = kvil::updatePackageFor(os);
        EXPECT_EQ(expected, p ? p->logLine + ("|" + std::string(p->file)) + "|" +
                                    std::to_string(p->logsCommandLine)
                              : "none") << os;
    }
}

// Ordinary properties hold poison: the inputs come from CustomActionData. The
// box speaks the language of field 6, the logged message that of the
// installation (which a deferred action reads empty on Windows: English).
TEST(RunVCRedist, OnlyAnUpdateThatDoesNotApplyFailsWithMessage2059ShownOrLogged)
{
    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    Recorder recorder{scratch};
    InstallerLog log;
    TestPackage package{scratch};
    package.property("UILevel", "5").property("SUPPORTDIR", "C:\\poison");
    package.property("ProductLanguage", "1034").open();
    auto run = [&](DWORD wusaExit, const std::string& uiLevel, const std::string& os) {
        recorder.exitCode("wusa", wusaExit);
        package.set("CustomActionData", "x;;y;" + uiLevel + ";C:\\sup;" + os + ";1031");
        log.clear();
        ActionRun result = runAction(caKVILRunVCRedist, package.session());
        EXPECT_CLEAN(result);
        return result;
    };
    const std::string log2 =
        "\" /quiet /log:\"" + environment.systemDrive + "\\windows\\temp\\vclog.log\"";
    const std::string r2 = "wusa \"C:\\sup\\Windows8.1-KB2999226-x64.msu" + log2;
    const std::string rt = "wusa \"C:\\sup\\Windows8-RT-KB2999226-x64.msu" + log2;
    kvil::Installer installer(package.session());

    ActionRun shown = run(0x80240017, "5", "Windows Server 2012 R2");
    EXPECT_EQ(1603u, shown.result);
    const std::string named = "4:caKVILRunVCRedist: KVILMSI64.dll " KVIL_VERSION;
    EXPECT_EQ((Lines{named, "4:The UILEVEL is : 5", "4:The SUPPORTDIR is : C:\\sup",
                     "4:OS Name : Windows Server 2012 R2", "4:This is Windows 2012 R2",
                     "4:The KB that is run: " + r2}),
              log.lines());
    ASSERT_EQ(1u, shown.boxes.size());
    EXPECT_TRUE(isBox(shown, 0, package.get("ProductName"),
                      kvil::loadLocalisedStringForCode(installer, 2059, "1031"),
                      MB_OK | MB_ICONERROR, Owner::kForeground));
    EXPECT_TRUE(shown.boxes[0].ok && shown.boxes[0].errorIcon);

    ActionRun logged = run(0x80240017, "3", "Windows 8 Pro");
    EXPECT_EQ(1603u, logged.result);
    EXPECT_TRUE(logged.boxes.empty());
    const std::string spanish = kvil::loadLocalisedStringForCode(installer, 2059, "1034");
    EXPECT_EQ((Lines{named, "4:The UILEVEL is : 3", "4:The SUPPORTDIR is : C:\\sup", "4:OS Name : Windows 8 Pro",
                     "4:This is Windows 8", "4:" + spanish + rt}),
              log.lines());

    for (DWORD accepted : {0u, 3010u})
        EXPECT_EQ(0u, run(accepted, "5", "Windows Server 2012").result) << accepted;
    EXPECT_EQ(0u, run(0x80240017, "5", "Windows Server 2016").result);
    EXPECT_EQ((Lines{"wusa|" + r2, "wusa|" + rt, "wusa|" + rt, "wusa|" + rt}), recorder.lines());
}

TEST(JreUpgradeRules, VersionMigrationRuleAndCommandLine)
{
    struct { const char* recorded; int major, minor; bool migrates; } cases[] = {
        {"1.7.0_80", 1, 7, true}, {"1.8.0_181", 1, 8, false}, {"11.0.2", 11, 0, false},
        {"..1..6", 1, 6, true},   {"x.y", 0, 0, false},       {"1", 1, 0, true},
    };
    for (const auto& c : cases) {
        kvil::JavaVersion version = kvil::javaVersionOf(c.recorded);
        EXPECT_EQ(c.major * 100 + c.minor, version.major * 100 + version.minor) << c.recorded;
        EXPECT_EQ(c.migrates, kvil::migrationNeeded(true, version)) << c.recorded;
    }
    EXPECT_EQ("\"C:\\Apps\\\\jre\\bin\\java.exe\" -cp \"S:\\sup\\KVKSMIG.jar\";"
              "\"C:\\Apps\\\\apache-tomcat\\webapps\\kvsa\\WEB-INF\\shared\\KVCOMMON.jar\";"
              "\"C:\\Apps\\\\apache-tomcat\\webapps\\kvsa\\WEB-INF\\lib\\xalan.jar\";"
              "\"C:\\Apps\\\\apache-tomcat\\webapps\\kvsa\\WEB-INF\\lib\\xerces.jar\""
              " -Djava.library.path=\"C:\\Apps\\\\kvsa\\bin\";\"C:\\Apps\\\\kva\\bin\" "
              "com.tavrin.kva.common.KVAKSMigrate \"C:\\Apps\\\\\"",
              kvil::migrationCommandLine("C:\\Apps\\", "S:\\sup"));
}

// The native view first, then the 32-bit one; a present java.exe of 1.7 or
// older runs the migration (working folder INSTALLDIR, flag 0), logged after.
TEST(JreUpgrade, TheRecordedVersionDecidesTheMigration)
{
    ScratchFolder scratch;
    const std::string install = scratch / "app\\", java = install + "\\jre\\bin\\java.exe";
    for (const char* folder : {"app", "app\\jre", "app\\jre\\bin"})
        CreateDirectoryA((scratch / folder).c_str(), nullptr);
    Recorder recorder{scratch};
    CopyFileA((programFolder() + "\\recorder.exe").c_str(), java.c_str(), FALSE);
    TestPackage package{scratch};
    package.property("INSTALLDIR", install).open();
    const std::string key = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\JRE";
    const std::string ran = "UpgradeUtilityCommand executed from JREUpgrade function call";
    const std::string x86 = "No x64 JRE present in the system, reading from 32 bit hive of registry and "
                            "proceeding with JREUpgrade function call";
    const std::string none = "No Previously installed JRE present in the system, exit from JREUpgrade "
                             "function call";
    struct { const char *native, *view32; Lines logged; } cases[] = {  // "" stands for the command
        {"1.7.0_80", "1.8.0_181", {"", ran}}, {"", "1.6.0_45", {x86, "", ran}}, {"", "", {none}},
        {"1.8.0_181", "1.6.0_45", {}},        {"1.7.0_80", "", {}},  // the last without java.exe
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.native) + "|" + c.view32);
        ScratchFolder folder("JreUpgradeCase" + std::to_string(&c - cases));
        SupportFolder support{folder};
        package.set("SUPPORTDIR", support.path());
        scrubProductRegistry();
        if (*c.native)
            setRegistryString(key, "Version", c.native);
        if (*c.view32)
            setRegistryString(key, "Version", c.view32, true);
        if (&c == std::end(cases) - 1)
            DeleteFileA(java.c_str());
        ActionRun run = runAction(caKVILJREUpgrade, package.session());
        EXPECT_EQ(0u, run.result);
        EXPECT_CLEAN(run);
        const std::string command = kvil::migrationCommandLine(install, support.path());
        for (std::string& line : c.logged)
            line = line.empty() ? command : line;
        EXPECT_EQ(c.logged, loggedTexts(support));
        const std::string launch = "LaunchAppAndWait(\"" + kvil::replaceAll(command, "\"", "\"\"") +
                                   "\", \"" + install + "\", 0) = 0";
        const bool launches = !c.logged.empty() && c.logged.back() == ran;
        EXPECT_EQ(launches ? Lines{launch} : Lines{}, callsOf(support, "LaunchAppAndWait"));
    }
    scrubProductRegistry();
}

// At every UI level: "Failed to load library <path>" with MB_OK, a missing
// function with MB_ICONERROR, each owned by the foreground window.
TEST(JreUpgrade, AnUnusableLibraryStopsTheInstallation)
{
    ScratchFolder scratch;
    ScratchFolder noLog("JreUpgradeNoKVILLog");
    SupportFolder withoutLaunch(scratch, "r14g-supported.ini", "LaunchAppAndWait");
    SupportFolder withoutLog(noLog, "r14g-supported.ini", "KVILLog");
    TestPackage package{scratch};
    package.property("UILevel", "2").open();
    const struct {
        std::string folder, text;
        UINT style;
    } cases[] = {
        {scratch / "none", "Failed to load library " + scratch / "none" + "\\KVIL64.dll", MB_OK},
        {withoutLog.path(), "Failed to get address for function KVILLog", MB_ICONERROR},
        {withoutLaunch.path(), "Failed to get address for function LaunchAppAndWait",
         MB_ICONERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        package.set("SUPPORTDIR", c.folder);
        ActionRun run = runAction(caKVILJREUpgrade, package.session());
        EXPECT_EQ(1603u, run.result);
        EXPECT_CLEAN(run);
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_TRUE(isBox(run, 0, "caKVILJREUpgrade", c.text, c.style, Owner::kForeground));
    }
}
