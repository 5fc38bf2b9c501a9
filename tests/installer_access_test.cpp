// Installer access against a real session: properties, UI level, log lines,
// feature states, database queries and the error box.
#include "harness/harness.h"
#include "runtime/installer.h"

using namespace test;
using kvil::Installer;

namespace {

UINT __stdcall logAndAsk(MSIHANDLE handle)
{
    Installer installer(handle);
    installer.message("Hello from the action");
    installer.message("A warning", kvil::kMessageWarning);
    int answer = kvil::errorBox("caKVILTest", "Go on?", MB_YESNO | MB_ICONQUESTION);
    installer.setProperty("ANSWER", std::to_string(answer));
    return ERROR_SUCCESS;
}

UINT __stdcall leakRecord(MSIHANDLE)
{
    MsiCreateRecord(1);
    return ERROR_SUCCESS;
}

}  // namespace

class InstallerAccess : public ::testing::Test {
protected:
    ScratchFolder scratch;
    InstallerLog log;
    TestPackage package{scratch};
};

TEST_F(InstallerAccess, PropertiesReadAtMost1023CharactersAndAbsentOnesReadEmpty)
{
    Installer installer(package.property("SHORT", "abc").open());
    package.set("LONG", std::string(1500, 'x'));

    std::string value;
    EXPECT_TRUE(installer.readProperty("SHORT", value));
    EXPECT_EQ("abc", value);
    EXPECT_FALSE(installer.readProperty("LONG", value));
    EXPECT_EQ(std::string(1023, 'x'), value);
    EXPECT_EQ("", installer.property("MISSING"));
    installer.setProperty("SET", "value");
    EXPECT_EQ("value", package.get("SET"));
}

TEST_F(InstallerAccess, UiLevelIsTheLeadingNumberOrZero)
{
    Installer installer(package.open());
    package.set("UILevel", "2");
    EXPECT_EQ(2, installer.uiLevel());
    package.set("UILevel", "x5");
    EXPECT_EQ(0, installer.uiLevel());
    package.set("UILevel", std::string(1100, '5'));  // unreadable: cut at 1023
    EXPECT_EQ(5, installer.uiLevel());
}

TEST_F(InstallerAccess, LogLinesReachTheInstallerAndBoxesAreAnswered)
{
    MSIHANDLE session = package.open();
    ActionRun run = runAction(logAndAsk, session, {IDNO});
    EXPECT_CLEAN(run);
    EXPECT_TRUE(log.contains("Hello from the action"));
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("caKVILTest", run.boxes[0].caption);
    EXPECT_EQ("Go on?", run.boxes[0].text);
    EXPECT_TRUE(run.boxes[0].yes && run.boxes[0].no);
    EXPECT_FALSE(run.boxes[0].ok);
    EXPECT_EQ(std::to_string(IDNO), package.get("ANSWER"));
}

TEST_F(InstallerAccess, HygieneCheckCatchesALeakedHandle)
{
    ActionRun run = runAction(leakRecord, package.open());
    EXPECT_EQ(1u, run.leakedHandles);
}

TEST_F(InstallerAccess, FeatureStatesFollowTheRequestedActionState)
{
    Installer installer(package.feature({"IWS", "Web", "Web server"})
                            .feature({"SI", "Instr", "Instrumentation"})
                            .open());
    package.requestState("IWS", INSTALLSTATE_LOCAL);
    package.requestState("SI", INSTALLSTATE_ABSENT);
    EXPECT_TRUE(installer.featureBeingInstalled("IWS"));
    EXPECT_FALSE(installer.featureBeingInstalled("SI"));
    EXPECT_FALSE(installer.featureBeingRemoved("SI"));  // never installed
    EXPECT_FALSE(installer.featureBeingInstalled("NOPE"));
    EXPECT_TRUE(installer.featureExists("SI"));
    EXPECT_FALSE(installer.featureExists("NOPE"));
}

TEST_F(InstallerAccess, AnInstalledFeatureRequestedAbsentIsBeingRemoved)
{
    Installer installer(package.feature({"IWS", "Web", "Web server"})
                            .feature({"SI", "Instr", "Instrumentation"})
                            .openInstalled());
    package.requestState("SI", INSTALLSTATE_ABSENT);
    EXPECT_TRUE(installer.featureBeingRemoved("SI"));
    EXPECT_FALSE(installer.featureBeingRemoved("IWS"));
    EXPECT_FALSE(installer.featureBeingInstalled("SI"));
}

TEST_F(InstallerAccess, QueriesWalkTheRunningDatabase)
{
    Installer installer(package.feature({"IWS", "Web", "Web server"}).open());
    std::vector<std::string> titles;
    EXPECT_TRUE(installer.query("SELECT `Title` FROM `Feature`", [&](MSIHANDLE, MSIHANDLE record) {
        titles.push_back(kvil::recordString(record, 1));
        return true;
    }));
    EXPECT_EQ(std::vector<std::string>{"Web"}, titles);
    EXPECT_FALSE(installer.query("SELECT `Nothing` FROM `Missing`",
                                 [](MSIHANDLE, MSIHANDLE) { return true; }));
}
