// The vendor library binding and the actions that only ask the library one
// question: caKVILOldNodeCheck, caKVILOldStationCheck, caKVILHideCancelButton.
#include "harness/support_folder.h"
#include "runtime/installer.h"
#include "runtime/vendor_library.h"

using namespace test;

#include "runtime/exports.h"

namespace {

UINT __stdcall bindAndReport(MSIHANDLE handle)
{
    kvil::Installer installer(handle);
    kvil::VendorLibrary library(installer, installer.property("SUPPORTDIR"));
    if (!library.loaded()) {
        library.reportLoadFailure("caKVILBindTest");
        return ERROR_INSTALL_FAILURE;
    }
    if (!library.function<GetSystemIdFn>("GetSystemId")) {
        library.reportMissingFunction("caKVILBindTest", "GetSystemId");
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

}  // namespace

class VendorBinding : public ::testing::Test {
protected:
    ScratchFolder scratch;
    TestPackage package{scratch};
};

TEST_F(VendorBinding, LoadsByFullPathAndFreesTheLibraryOnEveryPath)
{
    SupportFolder support(scratch);
    ActionRun run = runAction(bindAndReport, package.property("SUPPORTDIR", support.path()).open());
    EXPECT_EQ(0u, run.result);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_CLEAN(run);
}

// The box's text is also logged, for a run where nobody sees the box (/qn).
TEST_F(VendorBinding, AMissingLibraryShowsItsPath)
{
    InstallerLog log;
    MSIHANDLE session = package.property("SUPPORTDIR", scratch / "none").open();
    log.clear();
    ActionRun run = runAction(bindAndReport, session);
    EXPECT_EQ(1603u, run.result);
    EXPECT_EQ((std::vector<std::string>{"4:caKVILBindTest: Failed to load library " + scratch / "none" + "\\KVIL64.dll"}),
              log.lines());
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "caKVILBindTest",
                      "Failed to load library " + scratch / "none" + "\\KVIL64.dll", MB_OK,
                      Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].ok);
    EXPECT_FALSE(run.boxes[0].errorIcon);
}

TEST_F(VendorBinding, ALibraryPlantedAtTheDriveRootIsNeverLoaded)
{
    // An empty SUPPORTDIR names "\KVIL64.dll" on the current drive.
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    SetCurrentDirectoryA(scratch.path().c_str());
    SupportFolder support(scratch);
    CopyFileA((support / "KVIL64.dll").c_str(), "C:\\KVIL64.dll", FALSE);
    CopyFileA((support / "KVIL64.dll").c_str(), (scratch / "KVIL64.dll").c_str(), FALSE);

    ActionRun empty = runAction(bindAndReport, package.open());
    package.set("SUPPORTDIR", ".");
    ActionRun relative = runAction(bindAndReport, package.session());
    DeleteFileA("C:\\KVIL64.dll");
    SetCurrentDirectoryA(current);

    EXPECT_EQ(1603u, empty.result);
    EXPECT_CLEAN(empty);
    ASSERT_EQ(1u, empty.boxes.size());
    EXPECT_TRUE(isBox(empty, 0, "caKVILBindTest", "Failed to load library \\KVIL64.dll", MB_OK,
                      Owner::kForeground));
    EXPECT_EQ(1603u, relative.result);
    ASSERT_EQ(1u, relative.boxes.size());
    EXPECT_TRUE(isBox(relative, 0, "caKVILBindTest", "Failed to load library .\\KVIL64.dll", MB_OK,
                      Owner::kForeground));
}

TEST_F(VendorBinding, AMissingFunctionIsNamedWithAnErrorIcon)
{
    SupportFolder support(scratch, "r14g-supported.ini", "GetSystemId");
    InstallerLog log;
    MSIHANDLE session = package.property("SUPPORTDIR", support.path()).open();
    log.clear();
    ActionRun run = runAction(bindAndReport, session);
    EXPECT_EQ(1603u, run.result);
    EXPECT_EQ((std::vector<std::string>{"4:caKVILBindTest: Failed to get address for function GetSystemId"}), log.lines());
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "caKVILBindTest", "Failed to get address for function GetSystemId",
                      MB_ICONERROR, Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].errorIcon);
}

struct NamedAction {
    const char* name;
    Action action;
};

void PrintTo(const NamedAction& named, std::ostream* out) { *out << named.name; }

class OldNode : public VendorBinding,
                public ::testing::WithParamInterface<NamedAction> {};

TEST_P(OldNode, AnOldNodeSetsTheProperty)
{
    SupportFolder support(scratch, "r11g-older.ini");  // OldNode=1
    ActionRun run = runAction(GetParam().action, package.property("SUPPORTDIR", support.path()).open());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ("1", package.get("CP_OLDNODE"));
    EXPECT_TRUE(support.journalHas("CheckForOldKVNode() = 1"));
}

TEST_P(OldNode, AnyOtherAnswerLeavesThePropertyAlone)
{
    SupportFolder support(scratch);
    support.profileText("[Machine]\nSystemId=08FC\nOldNode=2\n");
    ActionRun run = runAction(GetParam().action, package.property("SUPPORTDIR", support.path()).open());
    EXPECT_EQ(0u, run.result);
    EXPECT_EQ("", package.get("CP_OLDNODE"));
    EXPECT_TRUE(support.journalHas("CheckForOldKVNode() = 2"));
}

TEST_P(OldNode, FailuresUseTheirOwnTextsAndTheSameCaption)
{
    ActionRun missing = runAction(GetParam().action, package.open());  // empty SUPPORTDIR
    EXPECT_EQ(1603u, missing.result);
    EXPECT_CLEAN(missing);
    ASSERT_EQ(1u, missing.boxes.size());
    EXPECT_TRUE(isBox(missing, 0, "caKVILOldNodeCheck", "Failed to load KVIL library",
                      MB_ICONERROR, Owner::kForeground));
    EXPECT_TRUE(missing.boxes[0].errorIcon);

    SupportFolder support(scratch, "r11g-older.ini", "CheckForOldKVNode");
    package.set("SUPPORTDIR", support.path());
    ActionRun lacking = runAction(GetParam().action, package.session());
    EXPECT_EQ(1603u, lacking.result);
    EXPECT_CLEAN(lacking);
    ASSERT_EQ(1u, lacking.boxes.size());
    EXPECT_TRUE(isBox(lacking, 0, "caKVILOldNodeCheck",
                      "Failed to find function CheckForOldKVNode in KVIL", MB_ICONERROR,
                      Owner::kForeground));
    EXPECT_EQ("", package.get("CP_OLDNODE"));
}

INSTANTIATE_TEST_SUITE_P(BothChecks, OldNode,
                         ::testing::Values(NamedAction{"OldNodeCheck", caKVILOldNodeCheck},
                                           NamedAction{"OldStationCheck", caKVILOldStationCheck}),
                         [](const ::testing::TestParamInfo<NamedAction>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(VendorBinding, HideCancelButtonFindsTheLibraryThroughTheSharedDataFile)
{
    EnvironmentGuard environment(scratch);
    Recorder recorder(scratch);
    SupportFolder support(scratch);
    CreateDirectoryA((environment.systemDrive + "\\tempini").c_str(), nullptr);
    writeFile(environment.systemDrive + "\\tempini\\kvil100.txt",
              "SUPPORTDIR=" + support.path() + "\r\n");
    // The ordinary property holds a poison value: deferred actions cannot read it.
    ActionRun run = runAction(caKVILHideCancelButton,
                              package.property("SUPPORTDIR", scratch / "poison").open());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    std::vector<std::string> journal = support.journal();
    ASSERT_EQ(1u, journal.size());
    EXPECT_EQ(0u, journal[0].find("UpdateCancelButton("));
    EXPECT_NE(std::string::npos, journal[0].find(", 1)"));
}

TEST_F(VendorBinding, HideCancelButtonWithoutLibraryOrFunctionStillSucceeds)
{
    EnvironmentGuard environment(scratch);
    Recorder recorder(scratch);
    ActionRun noFile = runAction(caKVILHideCancelButton, package.open());
    EXPECT_EQ(0u, noFile.result);
    EXPECT_TRUE(noFile.boxes.empty());
    EXPECT_CLEAN(noFile);

    SupportFolder support(scratch, "r14g-supported.ini", "UpdateCancelButton");
    CreateDirectoryA((environment.systemDrive + "\\tempini").c_str(), nullptr);
    writeFile(environment.systemDrive + "\\tempini\\kvil100.txt",
              "SUPPORTDIR=" + support.path() + "\r\n");
    ActionRun noFunction = runAction(caKVILHideCancelButton, package.session());
    EXPECT_EQ(0u, noFunction.result);
    EXPECT_TRUE(noFunction.boxes.empty());
    EXPECT_CLEAN(noFunction);
}
