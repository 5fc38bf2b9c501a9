// Installer access against a real session: properties, UI level, log lines,
// feature states, database queries and the error box.
#include "harness/harness.h"
#include "runtime/installer.h"
#include "runtime/message_box.h"

using namespace test;
using kvil::Installer;

namespace {

UINT __stdcall logAndAsk(MSIHANDLE handle)
{
    Installer installer(handle);
    installer.message("Hello from the action");
    installer.message("A warning", kvil::kMessageWarning);
    int answer = kvil::errorBox(installer, "caKVILTest", "Go on?", MB_YESNO | MB_ICONQUESTION);
    installer.setProperty("ANSWER", std::to_string(answer));
    return ERROR_SUCCESS;
}

UINT __stdcall twoBoxes(MSIHANDLE handle)
{
    Installer installer(handle);
    kvil::errorBox(installer, "Owned", "One", MB_OK | MB_TOPMOST);
    kvil::ownerlessBox(installer, "Ownerless", "Two",
                       MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SYSTEMMODAL);
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
    EXPECT_TRUE(isBox(run, 0, "caKVILTest", "Go on?", MB_YESNO | MB_ICONQUESTION, Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].yes && run.boxes[0].no);
    EXPECT_FALSE(run.boxes[0].ok);
    EXPECT_EQ(std::to_string(IDNO), package.get("ANSWER"));
}

TEST_F(InstallerAccess, BoxesAreSeenWithTheirWholeStyleAndTheirOwner)
{
    ActionRun run = runAction(twoBoxes, package.open());
    EXPECT_CLEAN(run);
    ASSERT_EQ(2u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "Owned", "One", MB_OK | MB_TOPMOST, Owner::kForeground));
    EXPECT_TRUE(isBox(run, 1, "Ownerless", "Two",
                      MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SYSTEMMODAL, Owner::kNone));
    // Flags that look alike on the window, and the owner, tell boxes apart.
    EXPECT_FALSE(isBox(run, 0, "Owned", "One", MB_OK | MB_SYSTEMMODAL, Owner::kForeground));
    EXPECT_FALSE(isBox(run, 0, "Owned", "One", MB_OK | MB_TOPMOST, Owner::kNone));
    EXPECT_FALSE(isBox(run, 1, "Ownerless", "Two", MB_OKCANCEL | MB_ICONWARNING | MB_SYSTEMMODAL,
                       Owner::kNone));
}

// An installer that answers error messages the way an engine's interface
// does: with a button of the message's box.
struct AnsweringInstaller {
    static int WINAPI answer(void*, UINT type, LPCSTR message)
    {
        if ((type & 0xFF000000) == INSTALLMESSAGE_ERROR && message) {
            types.push_back(type);
            texts.push_back(message);
            return reply;
        }
        return 0;
    }
    static inline int reply = 0;
    static inline std::vector<UINT> types;
    static inline std::vector<std::string> texts;
};

TEST(UnattendedBoxes, ABoxIsShownOnlyWhereAUserCanSeeIt)
{
    struct Case {
        bool stationVisible, sessionZero, canBeSeen;
    } cases[] = {
        {true, false, true},    // an interactive user's desktop
        {false, false, false},  // a service's own, invisible window station
        {true, true, false},    // session 0: nobody logs on there
        {false, true, false},   // LocalSystem's service station
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.canBeSeen, kvil::boxCanBeSeen(c.stationVisible, c.sessionZero))
            << c.stationVisible << c.sessionZero;
}

TEST(UnattendedBoxes, OnlyYesGoesOnAndAnUnansweredQuestionAsTheQuestionSays)
{
    struct Case {
        int answer;
        bool goesOnIfUnansweredGoesOn, goesOnIfUnansweredStops;
    } cases[] = {
        {IDYES, true, true},
        {IDNO, false, false},
        {IDCANCEL, false, false},  // an external interface may answer any button
        {IDOK, false, false},
        {IDABORT, false, false},
        {IDIGNORE, false, false},
        {kvil::kUnanswered, true, false},
        {-1, true, false},  // an installer's failure is no answer either
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.goesOnIfUnansweredGoesOn, kvil::goesOnAfter(c.answer, true)) << c.answer;
        EXPECT_EQ(c.goesOnIfUnansweredStops, kvil::goesOnAfter(c.answer, false)) << c.answer;
    }
}

TEST_F(InstallerAccess, WhereNobodyCanSeeABoxTheInstallerGetsItsTextAndItsAnswerCounts)
{
    HiddenWindowStation hidden;
    MSIHANDLE session = package.open();

    // No answer from the installer (a silent installation): no button at all.
    ActionRun unanswered = runAction(logAndAsk, session, {IDNO}, &hidden);
    EXPECT_CLEAN(unanswered);
    EXPECT_EQ(0, unanswered.windowsCreated) << "a window on an invisible window station";
    EXPECT_TRUE(log.containsError("Go on?"));
    EXPECT_TRUE(log.contains("Message box \"caKVILTest\" not shown: no user can see this "
                             "process's windows. Its text follows as an error message to the "
                             "installer."));
    EXPECT_EQ(std::to_string(kvil::kUnanswered), package.get("ANSWER"));

    // An interface that shows the message: its button is the answer.
    AnsweringInstaller::reply = IDNO;
    AnsweringInstaller::types.clear();
    AnsweringInstaller::texts.clear();
    MsiSetExternalUIA(AnsweringInstaller::answer, INSTALLLOGMODE_ERROR, nullptr);
    ActionRun answered = runAction(logAndAsk, session, {}, &hidden);
    EXPECT_EQ(0, answered.windowsCreated) << "a window on an invisible window station";
    EXPECT_EQ(std::to_string(IDNO), package.get("ANSWER"));
    ASSERT_EQ(1u, AnsweringInstaller::types.size());
    EXPECT_EQ(INSTALLMESSAGE_ERROR | MB_YESNO | MB_ICONQUESTION, AnsweringInstaller::types[0]);
    EXPECT_EQ("Go on?", AnsweringInstaller::texts[0]);
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
