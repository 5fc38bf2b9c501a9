// The prerequisite checker's verdicts as caKVILPreReqCheckNode takes them in
// at its end, in real sessions on a simulated rack workstation of the 12th
// generation: there the hardware restricts only remote enablement and SNMP.
#include "harness/support_folder.h"
#include "qualify/feature_table.h"
#include "qualify/prereq_intake.h"

#include <initializer_list>
#include <memory>
#include <thread>

using namespace test;

#include "runtime/exports.h"

namespace {

const std::string kKevana = "SOFTWARE\\Tavrin Computer Corporation\\Kevana";
const std::string kApplications = kKevana + "\\Applications";
const std::string kResults = "Software\\Tavrin Computer Corporation\\Kevana\\PreReqChecks\\MN";

// IWS SI KVSS RmtMgmt WMI SNMP CLI OSLOG iVIRK NICInt INTEL BRCM
const char* const kHardwareOnly = "0 0 0 2 0 2 0 0 0 0 0 0";
const char* const kNothingPublished = "- - - - - - - - - - - -";

const char* const kNotRunText =
    "The Prerequisite Checker was not executed prior to launching this installer.\n\nSee the "
    "\"Installation and Security User's Guide\" for more information.\n\nIt is not recommended "
    "that you continue. Are you sure you want to continue?";

const char* const kMismatchText =
    "The prerequisite check version and the MSI version do not match. Are you sure you want to "
    "continue?";

// The key is looked for in the 32-bit view, the values are read in the 64-bit one.
void checkerResults(std::initializer_list<std::pair<const char*, const char*>> values)
{
    createKey(kResults, /*view32=*/true);
    createKey(kResults);
    for (const auto& value : values)
        setRegistryString(kResults, value.first, value.second);
}

void checkerVersion(const std::string& version)
{
    setRegistryString(kKevana + "\\PreReqChecks", "MNPreReqVersion", version);
}

std::string description(MSIHANDLE session, const std::string& feature)
{
    MSIHANDLE database = MsiGetActiveDatabase(session), view = 0, record = 0;
    std::string sql = "SELECT `Description` FROM `Feature` WHERE `Feature`='" + feature + "'";
    char text[2048] = {};
    DWORD size = sizeof(text);
    if (MsiDatabaseOpenViewA(database, sql.c_str(), &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS)
        MsiRecordGetStringA(record, 1, text, &size);
    for (MSIHANDLE handle : {record, view, database})
        if (handle)
            MsiCloseHandle(handle);
    return text;
}

// Whether the vendor library was loaded when each message box came up; the
// boxes are answered Yes.
thread_local std::vector<bool>* libraryAtBoxes = nullptr;

LRESULT CALLBACK noteLibraryAndAnswerYes(int code, WPARAM wParam, LPARAM lParam)
{
    char className[32] = {};
    if (code == HCBT_ACTIVATE && libraryAtBoxes &&
        GetClassNameA(reinterpret_cast<HWND>(wParam), className, sizeof(className)) &&
        std::string(className) == "#32770") {
        libraryAtBoxes->push_back(GetModuleHandleA("KVIL64.dll") != nullptr);
        PostMessageA(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDYES, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

TEST(PreReqIntakeDecisions, WarningTextsAreNeverUsedAsFormats)
{
    EXPECT_EQ("%n %x SNMP %s. \nOld", kvil::warnedDescription("%n %x %s %s", "SNMP", "Old"));
    EXPECT_EQ("Run it (100%d). \nOld", kvil::warnedDescription("Run it (100%d)", "SNMP", "Old"));
    for (const char* version : {"7.1.9", "10.1.0", ""})
        EXPECT_TRUE(kvil::versionPredates720(version)) << version;
    for (const char* version : {"7.2.0", "7.3", "v7"})
        EXPECT_FALSE(kvil::versionPredates720(version)) << version;
}

class PreReqIntake : public ::testing::Test {
protected:
    void SetUp() override { scrubProductRegistry(); }
    void TearDown() override { scrubProductRegistry(); }

    // A package of the twelve features (less `without`), as the system check
    // leaves it, at the given UI level.
    MSIHANDLE session(TestPackage& target, const ScratchFolder& folder, const std::string& uiLevel,
                      const std::string& without = "")
    {
        supports.emplace_back(new SupportFolder(folder));
        supports.back()->profileText(
            "[Machine]\r\nSystemId=0AAA\r\nGeneration=12\r\nIntelNIC=1\r\nBroadcomNIC=1\r\n");
        for (const kvil::FeatureRow& row : kvil::kFeatureTable)
            if (row.key != without)
                target.feature({row.key, std::string("Title of ") + row.key, "About"});
        MSIHANDLE handle = target.property("SUPPORTDIR", supports.back()->path())
                               .property("CP_SYSTEMID", "0AAA")
                               .property("CP_SUPPORTEDSYSTEM", "1")
                               .open();
        target.set("UILevel", uiLevel);
        return handle;
    }
    MSIHANDLE session(const std::string& uiLevel = "5")
    {
        return session(package, scratch, uiLevel);
    }

    // A second session in a folder of its own.
    MSIHANDLE another(const std::string& name, const std::string& uiLevel)
    {
        folders.emplace_back(new ScratchFolder(name));
        packages.emplace_back(new TestPackage(*folders.back()));
        return session(*packages.back(), *folders.back(), uiLevel);
    }

    ActionRun check(MSIHANDLE handle, std::vector<int> answers = {},
                    const HiddenWindowStation* station = nullptr)
    {
        ActionRun run = runAction(caKVILPreReqCheckNode, handle, answers, station);
        EXPECT_CLEAN(run);
        return run;
    }

    static std::string statuses(const TestPackage& target)
    {
        std::string text;
        for (const kvil::FeatureRow& row : kvil::kFeatureTable) {
            std::string value = target.get(row.statusProperty);
            text += (text.empty() ? "" : " ") + (value.empty() ? "-" : value);
        }
        return text;
    }
    std::string statuses() const { return statuses(package); }

    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    TestPackage package{scratch};
    std::vector<std::unique_ptr<SupportFolder>> supports;
    std::vector<std::unique_ptr<ScratchFolder>> folders;
    std::vector<std::unique_ptr<TestPackage>> packages;
};

TEST_F(PreReqIntake, AFirstInstallWithoutTheCheckerAsksWhetherToGoOn)
{
    MSIHANDLE handle = session();
    package.set("CP_FIRSTTIMEINSTALL", "yes");
    ActionRun run = check(handle, {IDYES});
    EXPECT_EQ(0u, run.result);
    ASSERT_EQ(1u, run.boxes.size());
    // Captioned with the product name.
    EXPECT_TRUE(isBox(run, 0, "Orvessa Test", kNotRunText, MB_YESNO | MB_ICONQUESTION,
                      Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].yes && run.boxes[0].no && run.boxes[0].questionIcon);
    EXPECT_EQ(kHardwareOnly, statuses());
    EXPECT_EQ("", package.get("CP_USERRANPREREQ"));

    MSIHANDLE declined = another("PreReqDeclined", "5");
    packages.back()->set("CP_FIRSTTIMEINSTALL", "YES");
    EXPECT_EQ(1603u, check(declined, {IDNO}).result);
    EXPECT_EQ(kNothingPublished, statuses(*packages.back()));
}

TEST_F(PreReqIntake, TheQuestionComesAfterTheVendorLibraryWasUnloaded)
{
    MSIHANDLE handle = session();
    package.set("CP_FIRSTTIMEINSTALL", "YES");
    std::vector<bool> loaded;
    UINT result = 0, leaked = 0;
    std::thread worker([&] {
        libraryAtBoxes = &loaded;
        HHOOK hook = SetWindowsHookExA(WH_CBT, noteLibraryAndAnswerYes, nullptr,
                                       GetCurrentThreadId());
        result = caKVILPreReqCheckNode(handle);
        leaked = MsiCloseAllHandles();
        UnhookWindowsHookEx(hook);
    });
    worker.join();
    EXPECT_EQ(0u, result);
    EXPECT_EQ(0u, leaked);
    EXPECT_EQ(std::vector<bool>{false}, loaded);
}

TEST_F(PreReqIntake, NoQuestionWhenNobodyCouldAnswerOrItIsNoFirstInstall)
{
    struct Case {
        const char* uiLevel;
        const char* property;
        const char* value;
    };
    for (const Case& c : {Case{"3", "CP_FIRSTTIMEINSTALL", "YES"}, Case{"5", "PATCH", "x.msp"},
                          Case{"5", "MSI_RUNNING_FROM_DUP", "Yes"},
                          Case{"5", "CP_FIRSTTIMEINSTALL", "NO"}}) {
        SCOPED_TRACE(c.property);
        MSIHANDLE handle = another(std::string("PreReqNoQuestion") + c.uiLevel + c.property,
                                   c.uiLevel);
        packages.back()->set("CP_FIRSTTIMEINSTALL", "YES");
        packages.back()->set(c.property, c.value);
        ActionRun run = check(handle);
        EXPECT_EQ(0u, run.result);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_EQ(kHardwareOnly, statuses(*packages.back()));
    }
}

TEST_F(PreReqIntake, TheKeyCountsIn32BitViewAndTheCodesIn64BitView)
{
    createKey(kResults, /*view32=*/true);
    setRegistryString(kResults, "ALL", "3", /*view32=*/true);
    setRegistryString(kResults, "IWS", "3", /*view32=*/true);
    EXPECT_EQ(0u, check(session()).result);
    EXPECT_EQ(kHardwareOnly, statuses());
    EXPECT_EQ("YES", package.get("CP_USERRANPREREQ"));

    scrubProductRegistry();
    setRegistryString(kResults, "ALL", "3");  // 64-bit view only: not run
    MSIHANDLE handle = another("PreReq64BitOnly", "5");
    packages.back()->set("CP_FIRSTTIMEINSTALL", "YES");
    ActionRun run = check(handle, {IDYES});
    EXPECT_EQ(0u, run.result);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "Orvessa Test", kNotRunText, MB_YESNO | MB_ICONQUESTION,
                      Owner::kForeground));
}

TEST_F(PreReqIntake, ACheckerThatFailedEverythingStopsTheInstallation)
{
    checkerResults({{"ALL", "3"}, {"IWS", "1"}});
    ActionRun run = check(session());
    EXPECT_EQ(1603u, run.result);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "Orvessa Test",
                      "The Prerequisite Checker reported failure for all features. Installation "
                      "cannot continue.",
                      MB_ICONERROR, Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].ok && run.boxes[0].errorIcon);
    EXPECT_EQ(kNothingPublished, statuses());
    EXPECT_EQ("", package.get("CP_USERRANPREREQ"));

    ActionRun silent = check(another("PreReqFailedSilently", "2"));
    EXPECT_EQ(1603u, silent.result);
    EXPECT_TRUE(silent.boxes.empty());

    checkerResults({{"ALL", "2"}});  // a warning only
    EXPECT_EQ(0u, check(another("PreReqOverallWarning", "5")).result);
}

TEST_F(PreReqIntake, ACheckerOfAnotherVersionNeedsTheUsersYes)
{
    checkerResults({{"SI", "1"}});
    checkerVersion("9.0.0");  // the package is 9.1.0
    ActionRun run = check(session(), {IDYES});
    EXPECT_EQ(0u, run.result);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "Orvessa Test", kMismatchText, MB_YESNO | MB_ICONQUESTION,
                      Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].yes && run.boxes[0].no && run.boxes[0].questionIcon);
    EXPECT_EQ("0 1 0 2 0 2 0 0 0 0 0 0", statuses());  // the codes still count

    EXPECT_EQ(1603u, check(another("PreReqMismatchNo", "5"), {IDNO}).result);
    ActionRun silent = check(another("PreReqMismatchSilent", "2"));
    EXPECT_EQ(1603u, silent.result);
    EXPECT_TRUE(silent.boxes.empty());
    EXPECT_EQ(kNothingPublished, statuses(*packages.back()));

    checkerVersion("9.1.0-RC");
    MSIHANDLE sameVersion = another("PreReqSameVersion", "2");
    packages.back()->set("ProductVersion", "9.1.0-rc");
    EXPECT_EQ(0u, check(sameVersion).result);
}

// An installer's interface that answers error messages with one button, or
// with none (0) as a silent installation does.
struct InstallerAnswers {
    explicit InstallerAnswers(int reply)
    {
        InstallerAnswers::reply = reply;
        texts.clear();
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        MsiSetExternalUIA(answer, INSTALLLOGMODE_ERROR, nullptr);
    }
    ~InstallerAnswers() { MsiSetExternalUIA(nullptr, 0, nullptr); }
    static int WINAPI answer(void*, UINT type, LPCSTR message)
    {
        if ((type & 0xFF000000) == INSTALLMESSAGE_ERROR && message)
            texts.push_back(message);
        return reply;
    }
    static inline int reply = 0;
    static inline std::vector<std::string> texts;
};

TEST_F(PreReqIntake, UnansweredQuestionsEndAsTheRunDoesBelowTheFullInterface)
{
    HiddenWindowStation hidden;  // as in session 0: nobody sees the question
    InstallerAnswers silent(0);

    // The checker was not run: below the full interface the run goes on.
    MSIHANDLE notRun = session();
    package.set("CP_FIRSTTIMEINSTALL", "YES");
    ActionRun goesOn = check(notRun, {IDNO}, &hidden);
    EXPECT_EQ(0, goesOn.windowsCreated);
    EXPECT_EQ(0u, goesOn.result);
    EXPECT_EQ(kHardwareOnly, statuses());
    EXPECT_EQ(std::vector<std::string>{kNotRunText}, InstallerAnswers::texts);

    // A checker of another version: below the full interface the run stops.
    InstallerAnswers::texts.clear();
    checkerResults({{"SI", "1"}});
    checkerVersion("9.0.0");
    ActionRun stops = check(another("PreReqMismatchUnanswered", "5"), {IDYES}, &hidden);
    EXPECT_EQ(0, stops.windowsCreated);
    EXPECT_EQ(1603u, stops.result);
    EXPECT_EQ(kNothingPublished, statuses(*packages.back()));
    EXPECT_EQ(std::vector<std::string>{kMismatchText}, InstallerAnswers::texts);
}

TEST_F(PreReqIntake, OnlyYesFromAnInstallersInterfaceGoesOnPastAQuestion)
{
    HiddenWindowStation hidden;
    for (int reply : {IDYES, IDNO, IDCANCEL, IDOK, IDABORT}) {
        SCOPED_TRACE(reply);
        InstallerAnswers answers(reply);
        const UINT expected = reply == IDYES ? 0u : 1603u;
        scrubProductRegistry();
        MSIHANDLE notRun = another("PreReqNotRunAnswer" + std::to_string(reply), "5");
        packages.back()->set("CP_FIRSTTIMEINSTALL", "YES");
        EXPECT_EQ(expected, check(notRun, {}, &hidden).result);

        checkerResults({{"SI", "1"}});
        checkerVersion("9.0.0");
        EXPECT_EQ(expected,
                  check(another("PreReqMismatchAnswer" + std::to_string(reply), "5"), {}, &hidden)
                      .result);
        EXPECT_EQ(2u, InstallerAnswers::texts.size());
    }
}

TEST_F(PreReqIntake, FeatureCodesRaiseWarnAndRefuse)
{
    createKey(kApplications + "\\IntelSNMPAgent");  // installed
    checkerResults({{"IWS", "1"}, {"SI", "2"}, {"KVSS", "4"}, {"CLI", "3"}, {"WMI", ""},
                    {"OSLOG", "x"}, {"INTEL", "3"}});
    MSIHANDLE handle = session();
    package.set("PreReqCheckWARNINGMsg", "Check %s first");
    EXPECT_EQ(0u, check(handle).result);
    // Interactive without ADDLOCAL: refusals are locked and listed.
    EXPECT_EQ("1 2 2 2 0 2 2 0 0 0 0 0", statuses());
    EXPECT_EQ("KVSS;CLI;INTEL;", package.get("CP_DISALLOWINSTALL"));
    for (const char* feature : {"SI", "KVSS", "CLI", "INTEL"})  // installed ones too
        EXPECT_EQ(std::string("Check Title of ") + feature + " first. \nAbout",
                  description(handle, feature));
    for (const char* feature : {"IWS", "WMI", "OSLOG"})
        EXPECT_EQ("About", description(handle, feature));

    // Silent, or with features named: refusals are hidden, above 3 nothing.
    MSIHANDLE silent = another("PreReqCodesSilently", "2");
    EXPECT_EQ(0u, check(silent).result);
    EXPECT_EQ("1 2 0 2 0 2 3 0 0 0 0 0", statuses(*packages.back()));
    EXPECT_EQ("", packages.back()->get("CP_DISALLOWINSTALL"));
    MSIHANDLE named = another("PreReqCodesNamed", "5");
    packages.back()->set("ADDLOCAL", "IWS");
    EXPECT_EQ(0u, check(named).result);
    EXPECT_EQ("1 2 0 2 0 2 3 0 0 0 0 0", statuses(*packages.back()));
}

TEST_F(PreReqIntake, TheWarningMessageIsNeverUsedAsAFormat)
{
    checkerResults({{"KVSS", "2"}, {"SNMP", "2"}});
    MSIHANDLE handle = session();
    package.set("PreReqCheckWARNINGMsg", "%n %x %s %s");
    EXPECT_EQ(0u, check(handle).result);
    EXPECT_EQ("%n %x Title of KVSS %s. \nAbout", description(handle, "KVSS"));
    EXPECT_EQ("%n %x Title of SNMP %s. \nAbout", description(handle, "SNMP"));

    MSIHANDLE noText = another("PreReqNoWarningText", "5");
    EXPECT_EQ(0u, check(noText).result);
    EXPECT_EQ(". \nAbout", description(noText, "KVSS"));
}

TEST_F(PreReqIntake, FeaturesMissingFromThePackageAreSkipped)
{
    checkerResults({{"BRCM", "2"}});
    MSIHANDLE handle = session(package, scratch, "5", "BRCM");
    package.set("CP_BRCMSTATUS", "package");
    EXPECT_EQ(0u, check(handle).result);
    EXPECT_EQ("0 0 0 2 0 2 0 0 0 0 0 package", statuses());
}

TEST_F(PreReqIntake, SkippingTheCheckerOnlyPublishes)
{
    checkerResults({{"ALL", "3"}, {"SI", "3"}});
    MSIHANDLE handle = session();
    package.set("PREREQCHECK", "no");
    package.set("CP_FIRSTTIMEINSTALL", "YES");
    ActionRun run = check(handle);
    EXPECT_EQ(0u, run.result);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(kHardwareOnly, statuses());
}

TEST_F(PreReqIntake, AMajorUpgradeAddsNoFeatureTheEarlierInstallationLacked)
{
    struct Case {
        const char* version;
        bool wow6432;  // stored on the 32-bit side only
        bool core;     // the core application (and with it the command line) installed
        const char* expected;
    };
    int round = 0;
    for (const Case& c : {Case{"7.2.0", false, true, "0 2 2 2 2 2 0 2 2 0 2 2"},
                          Case{"7.2.0", true, true, "0 2 2 2 2 2 0 2 2 0 2 2"},
                          Case{"10.0.0", false, true, "0 0 2 2 0 2 0 0 2 0 2 2"},
                          Case{"7.1.0", false, false, "0 2 2 2 2 2 2 2 2 0 2 2"}}) {
        SCOPED_TRACE(std::to_string(++round));
        scrubProductRegistry();
        createKey(kApplications + "\\IWS");
        if (c.core)
            createKey(kApplications + "\\KVACORE");
        setRegistryString(kApplications + "\\SystemsManagement", "Version", c.version, c.wow6432);
        MSIHANDLE handle = another("PreReqUpgrade" + std::to_string(round), "2");
        packages.back()->set("CP_DOINGMAJORUPGRADE", "Yes");
        EXPECT_EQ(0u, check(handle).result);
        EXPECT_EQ(c.expected, statuses(*packages.back()));
    }
}

TEST_F(PreReqIntake, AnUpgradeOfTheCoreApplicationStillHidesInstrumentationBesideTheClient)
{
    createKey(kApplications + "\\KVACORE");
    createKey(kApplications + "\\DataEngine");
    createKey(kApplications + "\\Client");
    setRegistryString(kApplications + "\\SystemsManagement", "Version", "7.1.0");
    MSIHANDLE handle = session("2");
    package.set("CP_DOINGMAJORUPGRADE", "YES");
    EXPECT_EQ(0u, check(handle).result);
    EXPECT_EQ("3", package.get("CP_SASTATUS"));
}
