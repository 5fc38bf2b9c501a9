// caKVILPreReqCheckNode: its pure decisions and the feature dispositions, then
// whole runs in real sessions against the simulated vendor library.
#include "harness/support_folder.h"
#include "qualify/feature_table.h"
#include "qualify/pre_req_check_node.h"
#include "runtime/files.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <map>

using namespace test;

#include "runtime/exports.h"

namespace {

const std::string kApplications = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications";
const char* const kOurWinRmImage = "C:\\kviltest\\winrm-stand-in.exe";
const char* const kNoListener = "Either WinRM is not detected or HTTPS Listener is not "
                                "enabled.SSA should not be installed in typical mode";


bool has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines from `first` up to, not including, `end`.
std::vector<std::string> between(const std::vector<std::string>& lines, const std::string& first,
                                 const std::string& end)
{
    auto from = std::find(lines.begin(), lines.end(), first);
    return std::vector<std::string>(from, std::find(from, lines.end(), end));
}


std::string machine(const std::string& systemId, int generation, const std::string& answers = "")
{
    return "[Machine]\r\nSystemId=" + systemId + "\r\nGeneration=" + std::to_string(generation) +
           "\r\nIntelNIC=1\r\nBroadcomNIC=1\r\n[Answers]\r\n" + answers;
}

std::string osCheckMarker()
{
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, 2) + "\\nooscheck.txt";
}

// The test prefix is a workstation edition, where the OS check would limit a
// server model to the console; this marker switches the check off.
struct OsCheckOff {
    OsCheckOff() { writeFile(osCheckMarker(), ""); }
    ~OsCheckOff() { DeleteFileA(osCheckMarker().c_str()); }
};

void removeOurWinRm()
{
    HKEY services;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services", 0,
                      KEY_ALL_ACCESS, &services) != ERROR_SUCCESS)
        return;
    char image[MAX_PATH] = {};
    DWORD size = sizeof(image);
    if (RegGetValueA(services, "WinRM", "imagepath", RRF_RT_REG_SZ, nullptr, image, &size) ==
            ERROR_SUCCESS &&
        std::string(image) == kOurWinRmImage)
        RegDeleteTreeA(services, "WinRM");
    RegCloseKey(services);
}

}  // namespace

// ---------------------------------------------------------------- decisions

TEST(PreReqNodeDecisions, WindowsReleaseFromTheTwoReleaseProperties)
{
    auto finalValues = [](const std::string& os2016, const std::string& os2019) {
        std::map<std::string, std::string> values;
        for (const kvil::ReleaseStep& step : kvil::windowsReleaseSteps(os2016, os2019))
            for (const auto& property : step.properties)
                values[property.first] = property.second;
        return values;
    };
    for (const char* release : {"", "1607", "1802", "x2009"})
        EXPECT_TRUE(finalValues("", release).empty()) << release;
    EXPECT_EQ("NO", finalValues("10", "")["CP_2012R2"]);
    EXPECT_EQ("YES", finalValues("10", "")["CP_2016"]);
    for (const char* release : {"1803", "2008"}) {
        EXPECT_EQ("YES", finalValues("10", release)["CP_2019"]) << release;
        EXPECT_EQ("NO", finalValues("10", release)["CP_2016"]) << release;
    }
    auto newest = finalValues("", "2009");
    EXPECT_EQ("YES", newest["CP_2022"]);
    EXPECT_EQ("NO", newest["CP_2019"]);
    EXPECT_EQ("NO", newest["CP_2012R2"]);
}

TEST(PreReqNodeDecisions, FeatureListShorthands)
{
    EXPECT_EQ("IWS,SI,CLI,SNMP,WMI,OSLOG,KVSS,CLI,SNMP,WMI,OSLOG",
              kvil::expandSuiteShorthands("IWS,SA,KVSM"));
    EXPECT_EQ("SSI,CLI,SNMP,WMI,OSLOG", kvil::expandSuiteShorthands("SSA"));  // plain substring
    EXPECT_EQ("sa,Kvsm", kvil::expandSuiteShorthands("sa,Kvsm"));
    EXPECT_EQ("SI,IWS,WMI,KVSS,IWS,WMI", kvil::addConsoleToInstrumentation("SI,KVSS"));

    std::vector<std::string> asked;
    auto nothingInstalled = [&](const char* key) {
        asked.push_back(key);
        return false;
    };
    EXPECT_TRUE(kvil::namesOnlyInstrumentationOrStorage("KVSS,iVIRK", nothingInstalled));
    EXPECT_EQ((std::vector<std::string>{"IWS", "CLI", "WMI", "SNMP", "OSLOG", "SSA"}), asked);
    for (const char* list : {"KVSS,RmtMgmt", "SI,OSLOG", "SA", "", "WMI"})
        EXPECT_FALSE(kvil::namesOnlyInstrumentationOrStorage(list, nothingInstalled)) << list;
    asked.clear();  // the registry is asked only while the tests before pass
    EXPECT_FALSE(kvil::namesOnlyInstrumentationOrStorage("SI,IWS", nothingInstalled));
    EXPECT_EQ(std::vector<std::string>{"IWS"}, asked);
    auto snmpInstalled = [](const char* key) { return std::string(key) == "SNMP"; };
    EXPECT_FALSE(kvil::namesOnlyInstrumentationOrStorage("SI", snmpInstalled));
}

TEST(PreReqNodeDecisions, VersionsSplitAtRunsOfDots)
{
    auto parts = [](const std::string& version) {
        kvil::VersionParts p = kvil::splitVersion(version);
        return p.major + "|" + p.minor + "|" + p.build;
    };
    EXPECT_EQ("7|4|0", parts("7.4.0.123"));
    EXPECT_EQ("7|4|", parts("..7...4."));
    EXPECT_EQ("||", parts("..."));
}

class PreReqFeatureSelection : public ::testing::Test {
protected:
    void SetUp() override { scrubProductRegistry(); }
    void TearDown() override { scrubProductRegistry(); }
    int disposition(const char* key) const
    {
        return features.disposition(
            static_cast<size_t>(kvil::findFeature(key) - kvil::kFeatureTable.data()));
    }
    kvil::FeatureSelection features;
};

TEST_F(PreReqFeatureSelection, DispositionsOnlyRiseToHiddenAndNeverForInstalledFeatures)
{
    createKey(kApplications + "\\KVACORE");  // the command line interface is installed
    features.raise("KVSS", 2);
    features.raise("kvss", 1);
    features.raise("WMI", 4);
    features.raise("CLI", 3);
    features.raise("Nothing", 3);
    EXPECT_EQ(2, disposition("KVSS"));
    EXPECT_EQ(0, disposition("WMI"));
    EXPECT_EQ(0, disposition("CLI"));
}

TEST_F(PreReqFeatureSelection, TheWow6432NodeSideCountsOnlyWithoutThe64BitApplicationsKey)
{
    createKey(kApplications + "\\IWS", /*view32=*/true);
    features.raise("IWS", 3);
    EXPECT_EQ(0, disposition("IWS"));
    createKey(kApplications + "\\DataEngine");
    features.raise("IWS", 3);
    EXPECT_EQ(3, disposition("IWS"));
    // Installed instrumentation is hidden once the client is there too.
    features.raise("SI", 0);
    EXPECT_EQ(0, disposition("SI"));
    createKey(kApplications + "\\Client");
    features.raise("SI", 0);
    EXPECT_EQ(3, disposition("SI"));
}

// ---------------------------------------------------------------- whole runs

class PreReqCheckNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        scrubProductRegistry();
        DeleteFileA(osCheckMarker().c_str());  // left by a crashed run
        removeOurWinRm();
    }
    void TearDown() override
    {
        scrubProductRegistry();
        removeOurWinRm();
    }

    // The package as the system check leaves it.
    MSIHANDLE session(const SupportFolder& support, const std::string& systemId,
                      const std::string& uiLevel = "5", const std::string& supported = "1")
    {
        for (const kvil::FeatureRow& row : kvil::kFeatureTable)
            package.feature({row.key, std::string("Title of ") + row.key, "About"});
        MSIHANDLE handle = package.property("SUPPORTDIR", support.path())
                               .property("CP_SYSTEMID", systemId)
                               .property("CP_SUPPORTEDSYSTEM", supported)
                               .open();
        package.set("UILevel", uiLevel);
        return handle;
    }

    ActionRun check(MSIHANDLE handle)
    {
        ActionRun run = runAction(caKVILPreReqCheckNode, handle);
        EXPECT_CLEAN(run);
        return run;
    }

    // Published dispositions in table order, "-" where nothing was written:
    // IWS SI KVSS RmtMgmt WMI SNMP CLI OSLOG iVIRK NICInt INTEL BRCM.
    std::string statuses() const
    {
        std::string text;
        for (const kvil::FeatureRow& row : kvil::kFeatureTable) {
            std::string value = package.get(row.statusProperty);
            text += (text.empty() ? "" : " ") + (value.empty() ? "-" : value);
        }
        return text;
    }

    // CP_12GSERVER to CP_16GSERVER.
    std::string generations() const
    {
        std::string text;
        for (int g = 12; g <= 16; ++g)
            text += (g == 12 ? "" : " ") + package.get("CP_" + std::to_string(g) + "GSERVER");
        return text;
    }

    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    InstallerLog log;
    TestPackage package{scratch};
};

TEST_F(PreReqCheckNode, SupportedServerWithTheOsCheckOff)
{
    OsCheckOff osCheckOff;
    SupportFolder support(scratch, "r14g-supported.ini");
    MSIHANDLE handle = session(support, "08FC");
    package.set("CP_OS_2016_MAJOR", "10");
    package.set("CP_OS_2019", "1809");
    ActionRun run = check(handle);
    EXPECT_EQ(0u, run.result);
    EXPECT_TRUE(run.boxes.empty());

    const std::string hwlist = environment.programFiles + "\\tempini\\hwlist.ini";
    std::vector<std::string> expected = {"Prereqcheck: The server has Windows 2016 OS.",
                                         "Prereqcheck: The server has Windows 2019 OS.",
                                         "Inside caKVILPreReqCheckNode system id = 08FC",
                                         "Inside caKVILPreReqCheckNode hwfile = " + hwlist};
    for (const kvil::FeatureRow& row : kvil::kFeatureTable)
        expected.push_back(std::string("For feature ") + row.key +
                           " pnIsFeatureSupported returned 0");
    expected.insert(expected.end(),
                    {"Intel card was detected.", "Broadcom card was detected.",
                     "This is not a 12g server, do not enable ivirk12g for installation",
                     "This is 14g server", "This is not an Quillon system for bDOS", kNoListener,
                     "No INI exists, CP_MESSAGE_FORMAT property not set",
                     "No INI exists, CP_ACCESSMASK property not set"});
    EXPECT_EQ(expected, loggedTexts(support));
    EXPECT_TRUE(log.contains("This is 14g server"));  // reaches the installer log
    EXPECT_EQ("IsFeatureSupported(\"" + hwlist + "\", \"NICInt\", \"08FC\") = 0",
              callsOf(support, "IsFeatureSupported").at(9));

    // No WinRM here, and neither remote enablement nor SNMP is installed.
    EXPECT_EQ("0 0 0 2 0 2 0 0 3 0 0 0", statuses());
    EXPECT_EQ("NO NO YES  ", generations());
    EXPECT_EQ("YES", package.get("CP_2019"));
    EXPECT_EQ("NO", package.get("CP_2016"));
    EXPECT_EQ("", package.get("CP_SERVICEDEPENDENCY"));
    EXPECT_EQ("", package.get("CP_USERRANPREREQ"));
}

TEST_F(PreReqCheckNode, WorkstationWindowsLimitsAServerModelToTheConsole)
{
    setRegistryString(kApplications + "\\SNMP", "Version", "9.0.0");  // installed: stays
    SupportFolder support(scratch, "r14g-supported.ini");
    EXPECT_EQ(0u, check(session(support, "08FC")).result);
    EXPECT_EQ((std::vector<std::string>{"This is not an Quillon system for bDOS",
                                        "Enable only console on this system.",
                                        "set the service dependency property to NO."}),
              between(loggedTexts(support), "This is not an Quillon system for bDOS",
                      kNoListener));
    EXPECT_EQ("0 3 3 3 3 0 3 3 3 3 3 3", statuses());
    EXPECT_EQ("NO", package.get("CP_SERVICEDEPENDENCY"));
}

TEST_F(PreReqCheckNode, RackWorkstationModelIsExpectedOnWorkstationWindows)
{
    SupportFolder support(scratch, "rack-workstation.ini");  // 13th generation, Intel only
    EXPECT_EQ(0u, check(session(support, "0aaa")).result);
    EXPECT_TRUE(has(loggedTexts(support), "This is an Quillon system for bDOS"));
    EXPECT_EQ("0 0 0 2 0 2 0 0 3 0 0 2", statuses());
    EXPECT_EQ("NO YES   ", generations());
}

TEST_F(PreReqCheckNode, AnUnsupportedModelGetsOnlyTheConsole)
{
    OsCheckOff osCheckOff;
    SupportFolder support(scratch, "unsupported.ini");
    EXPECT_EQ(0u, check(session(support, "0BEE", "5", "0")).result);
    EXPECT_EQ("0 3 3 3 3 3 3 3 3 3 3 3", statuses());
    EXPECT_EQ("NO", package.get("CP_SERVICEDEPENDENCY"));
}

TEST_F(PreReqCheckNode, UnsupportedFeaturesOfAnOlderModelAreLockedOrHidden)
{
    OsCheckOff osCheckOff;
    createKey(kApplications + "\\NIC_INT");  // installed: keeps 0 but is still listed
    SupportFolder support(scratch, "r11g-older.ini");
    package.property("CP_15GSERVER", "package");
    EXPECT_EQ(0u, check(session(support, "0287")).result);
    EXPECT_EQ((std::vector<std::string>{
                  "For feature KVSS pnIsFeatureSupported returned 2",
                  "Making feature KVSS unselectable since it is not supported on this system.",
                  "For feature RmtMgmt pnIsFeatureSupported returned 1",
                  "Hiding feature RmtMgmt since it is not supported on this system."}),
              between(loggedTexts(support), "For feature KVSS pnIsFeatureSupported returned 2",
                      "For feature WMI pnIsFeatureSupported returned 0"));
    EXPECT_TRUE(has(loggedTexts(support), "Broadcom card was not detected."));
    EXPECT_EQ("KVSS;NICInt;", package.get("CP_DISALLOWINSTALL"));
    EXPECT_EQ("0 0 2 3 0 2 0 0 3 0 0 2", statuses());
    EXPECT_EQ("NO   package ", generations());  // generation 11: untouched beyond 12
}

TEST_F(PreReqCheckNode, FeaturesNamedOnTheCommandLineAreHiddenNotLocked)
{
    OsCheckOff osCheckOff;
    SupportFolder support(scratch, "r11g-older.ini");
    MSIHANDLE handle = session(support, "0287");
    package.set("ADDLOCAL", "IWS,KVSS");
    EXPECT_EQ(0u, check(handle).result);
    EXPECT_TRUE(has(loggedTexts(support), "Hiding feature KVSS since it is not supported on this "
                                          "system and user entered the ADDLOCAL property."));
    EXPECT_EQ("", package.get("CP_DISALLOWINSTALL"));
    EXPECT_EQ("0 0 3 3 0 2 0 0 3 3 0 2", statuses());
}

TEST_F(PreReqCheckNode, CommandLineFeatureListsAreExpandedOutsideTheFullInterface)
{
    SupportFolder support(scratch, "rack-workstation.ini");
    MSIHANDLE handle = session(support, "0AAA", "3");
    package.set("ADDLOCAL", "SI");
    package.set("REMOVE", "KVSM");
    package.set("REINSTALL", "SA");
    EXPECT_EQ(0u, check(handle).result);
    EXPECT_EQ("SI,IWS,WMI", package.get("ADDLOCAL"));
    EXPECT_EQ("KVSS,CLI,SNMP,WMI,OSLOG", package.get("REMOVE"));
    EXPECT_EQ("SI,CLI,SNMP,WMI,OSLOG", package.get("REINSTALL"));
    EXPECT_TRUE(has(loggedTexts(support), "User has given only SI or KVSS in the ADDLOCAL "
                                          "parameter, enable IWS & WMI along with it."));

    // With the full interface only the suites are expanded.
    ScratchFolder folder("PreReqFullInterface");
    SupportFolder other(folder, "rack-workstation.ini");
    TestPackage full(folder);
    MSIHANDLE fullHandle = full.property("SUPPORTDIR", other.path()).open();
    full.set("UILevel", "5");
    full.set("ADDLOCAL", "SI,KVSM");
    EXPECT_EQ(0u, check(fullHandle).result);
    EXPECT_EQ("SI,KVSS,CLI,SNMP,WMI,OSLOG", full.get("ADDLOCAL"));
}

TEST_F(PreReqCheckNode, OlderRemoteAccessToolsHideTheCommandLineToolsWhateverTheirVersion)
{
    setRegistryString(kApplications + "\\RAC5MT", "Version", "7.4.0.123");
    SupportFolder support(scratch);
    support.profileText(machine("0AAA", 12));
    EXPECT_EQ(0u, check(session(support, "0AAA")).result);
    EXPECT_EQ((std::vector<std::string>{
                  "VIRK Tools Registry key exists", "VIRK Tools Version is 7.4.0.123",
                  "VIRK Tools Major Version is 7", "VIRK Tools Minor Version is 4",
                  "VIRK Tools Build Version is 0", "Disable the VIRK tools feature"}),
              between(loggedTexts(support), "VIRK Tools Registry key exists",
                      "This is an Quillon system for bDOS"));
    EXPECT_EQ("YES", package.get("CP_12GSERVER"));
    EXPECT_EQ("3", package.get("CP_iVIRK12GSTATUS"));
}

TEST_F(PreReqCheckNode, OnlyAnAnswerOfOneFromTheListenerScriptCounts)
{
    setRegistryString("System\\CurrentControlSet\\Services\\WinRM", "imagepath", kOurWinRmImage);
    Recorder recorder(scratch);
    int round = 0;
    for (const char* answer : std::initializer_list<const char*>{"1\r\n", "0", "x1", nullptr}) {
        SCOPED_TRACE(answer ? answer : "no answer file");
        ScratchFolder folder("PreReqListener" + std::to_string(++round));
        SupportFolder support(folder);
        support.profileText(machine("0AAA", 14));
        if (answer)
            support.file("ssa_kvi.log", answer);
        TestPackage other(folder);
        EXPECT_EQ(0u, check(other.property("SUPPORTDIR", support.path()).open()).result);
        const std::string launch = "LaunchAppAndWait(\"cscript IsHTTPSListenerPresent.vbs\", \"" +
                                   support.path() + "\", 0) = 0";
        EXPECT_EQ(std::vector<std::string>{launch}, callsOf(support, "LaunchAppAndWait"));
        EXPECT_EQ(round != 1, has(loggedTexts(support), kNoListener));
        EXPECT_EQ(answer != nullptr, exists(support / "ssa_kvi.log"));  // left in place
    }
    EXPECT_EQ("cscript|cscript IsHTTPSListenerPresent.vbs", recorder.lines().at(0));
}

// ---------------------------------------------------------------- generations

struct GenerationCase {
    const char* name;
    int generation;
    const char* answers;   // forced answers of an inconsistent library
    const char* expected;  // CP_12GSERVER to CP_16GSERVER
    const char* iVirk;     // the command line tools' disposition
};

void PrintTo(const GenerationCase& c, std::ostream* out) { *out << c.name; }

class PreReqGeneration : public PreReqCheckNode,
                         public ::testing::WithParamInterface<GenerationCase> {};

TEST_P(PreReqGeneration, LaterGenerationsClearEarlierOnes)
{
    const GenerationCase& c = GetParam();
    SupportFolder support(scratch);
    support.profileText(machine("0AAA", c.generation, c.answers));
    MSIHANDLE handle = session(support, "0AAA");
    for (int g = 12; g <= 16; ++g)
        package.set("CP_" + std::to_string(g) + "GSERVER", "pkg");
    EXPECT_EQ(0u, check(handle).result);
    EXPECT_EQ(c.expected, generations());
    EXPECT_EQ(c.iVirk, package.get("CP_iVIRK12GSTATUS"));
}

INSTANTIATE_TEST_SUITE_P(
    PreReq, PreReqGeneration,
    ::testing::Values(GenerationCase{"None", 0, "", "NO pkg pkg pkg pkg", "3"},
                      GenerationCase{"G12", 12, "", "YES pkg pkg pkg pkg", "0"},
                      GenerationCase{"G13", 13, "", "NO YES pkg pkg pkg", "3"},
                      GenerationCase{"G14", 14, "", "NO NO YES pkg pkg", "3"},
                      GenerationCase{"G15", 15, "", "NO NO NO YES NO", "3"},
                      GenerationCase{"G16", 16, "", "NO NO NO NO YES", "3"},
                      GenerationCase{"G12Also13And15", 12,
                                     "IsSystem13GFullCheck=1\r\nIsSystem15G=1\r\n",
                                     "NO NO NO YES NO", "0"}),
    [](const ::testing::TestParamInfo<GenerationCase>& info) { return info.param.name; });

// ---------------------------------------------------------------- failures

struct MissingFunctionCase {
    const char* missing;
    const char* boxText;  // nullptr: no box
};

void PrintTo(const MissingFunctionCase& c, std::ostream* out) { *out << c.missing; }

class PreReqIncompleteLibrary : public PreReqCheckNode,
                                public ::testing::WithParamInterface<MissingFunctionCase> {};

TEST_P(PreReqIncompleteLibrary, FailsTheInstallationAtEveryUiLevel)
{
    const MissingFunctionCase& c = GetParam();
    SupportFolder support(scratch, "rack-workstation.ini", c.missing);
    ActionRun run = check(session(support, "0AAA", "2"));
    EXPECT_EQ(1603u, run.result);
    if (c.boxText) {
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_TRUE(isBox(run, 0, "caKVILPreReqCheckNode",
                          std::string("Failed to get address for function ") + c.boxText,
                          MB_ICONERROR, Owner::kForeground));
        EXPECT_TRUE(run.boxes[0].ok && run.boxes[0].errorIcon);
    } else {
        EXPECT_TRUE(run.boxes.empty());
    }
    EXPECT_EQ("- - - - - - - - - - - -", statuses());  // nothing published
}

INSTANTIATE_TEST_SUITE_P(
    PreReq, PreReqIncompleteLibrary,
    ::testing::Values(MissingFunctionCase{"KVILLog", "KVILLog"},
                      MissingFunctionCase{"IsFeatureSupported", "IsFeatureSupported"},
                      MissingFunctionCase{"CheckForHardWare", "CheckForHardWare"},
                      MissingFunctionCase{"CheckForNIC", "CheckForNIC"},
                      MissingFunctionCase{"IsSystem11GorHigher", "IsSystem11GorHigher"},
                      MissingFunctionCase{"IsSystem12G", "IsSystem12G"},
                      MissingFunctionCase{"IsSystem13GFullCheck", nullptr},
                      MissingFunctionCase{"IsSystem14GFullCheck", "IsSystem14G"},
                      MissingFunctionCase{"IsSystem15G", "IsSystem15G"},
                      MissingFunctionCase{"IsSystem16G", "IsSystem16G"},
                      MissingFunctionCase{"LaunchAppAndWait", "LaunchAppAndWait"}),
    [](const ::testing::TestParamInfo<MissingFunctionCase>& info) { return info.param.missing; });

TEST_F(PreReqCheckNode, WhatWasDecidedBeforeAFailureStays)
{
    SupportFolder support(scratch, "rack-workstation.ini", "IsSystem13GFullCheck");
    MSIHANDLE handle = session(support, "0AAA", "2");
    package.set("ADDLOCAL", "SA");
    package.set("CP_OS_2019", "1809");
    EXPECT_EQ(1603u, check(handle).result);
    EXPECT_EQ("SI,CLI,SNMP,WMI,OSLOG", package.get("ADDLOCAL"));
    EXPECT_EQ("YES", package.get("CP_2019"));
    EXPECT_EQ("NO", package.get("CP_12GSERVER"));
}

TEST_F(PreReqCheckNode, ALibraryThatDoesNotLoadIsReportedByItsPath)
{
    SupportFolder support(scratch, "rack-workstation.ini");
    DeleteFileA((support / "KVIL64.dll").c_str());
    ActionRun run = check(session(support, "0AAA", "2"));
    EXPECT_EQ(1603u, run.result);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "caKVILPreReqCheckNode",
                      "Failed to load library " + support.path() + "\\KVIL64.dll", MB_OK,
                      Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].ok && !run.boxes[0].errorIcon);
}

// The node check reads this run's copy of the hardware list, or a fallback
// that exists: a list that cannot be staged (held open, a file where the work
// folder must be, a folder where the copy must go) or a package without one
// stops the check before the library is loaded, with one line naming the file
// and the reason. Once the fault is gone the check works.
TEST_F(PreReqCheckNode, AHardwareListThatCannotBeStagedStopsTheCheck)
{
    OsCheckOff osCheckOff;
    SupportFolder support(scratch, "r14g-supported.ini");
    const std::string work = environment.programFiles + "\\tempini";
    const std::string list = support / "hwlist.ini";
    const std::string listText = readFile(list);
    std::unique_ptr<HeldOpen> held;
    const struct {
        const char* fault;
        std::function<void()> make;
        DWORD error;
    } rows[] = {
        {"an old list held open",
         [&] { CreateDirectoryA(work.c_str(), nullptr);
               held.reset(new HeldOpen(work + "\\hwlist.ini")); },
         ERROR_SHARING_VIOLATION},
        {"a file where the work folder must be", [&] { writeFile(work, "x"); }, ERROR_PATH_NOT_FOUND},
        {"a folder where the list must be",
         [&] { CreateDirectoryA(work.c_str(), nullptr);
               CreateDirectoryA((work + "\\hwlist.ini").c_str(), nullptr); },
         ERROR_ACCESS_DENIED},
        {"no list in the package", [&] { DeleteFileA(list.c_str()); }, ERROR_FILE_NOT_FOUND},
    };
    MSIHANDLE handle = session(support, "08FC");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        DeleteFileA((support / "kvilsim-journal.txt").c_str());
        for (const kvil::FeatureRow& feature : kvil::kFeatureTable)
            package.set(feature.statusProperty, "");
        log.clear();
        row.make();
        ActionRun failed = check(handle);
        EXPECT_EQ(1603u, failed.result);
        EXPECT_TRUE(failed.boxes.empty());
        EXPECT_TRUE(log.contains(kvil::couldNotStage(list, row.error)));
        EXPECT_TRUE(support.journal().empty());
        EXPECT_EQ("- - - - - - - - - - - -", statuses());

        held.reset();
        DeleteFileA(work.c_str());
        RemoveDirectoryA((work + "\\hwlist.ini").c_str());
        writeFile(list, listText);
        EXPECT_EQ(0u, check(handle).result);
        EXPECT_EQ(12u, callsOf(support, "IsFeatureSupported").size());
        kvil::removeDirectoryTree(work, true);  // the lookup leaves its copy
    }
}
