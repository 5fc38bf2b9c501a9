// caKVILSystemCheck and the hardware list lookup, in real installer sessions
// against the simulated vendor library.
#include "harness/support_folder.h"
#include "qualify/hardware_list.h"
#include "qualify/system_check.h"
#include "runtime/files.h"
#include "runtime/installer.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>

using namespace test;

#include "runtime/exports.h"

namespace {

const char* const kSystemsManagementKey =
    "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\SystemsManagement";
const char* const kKevanaKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana";

std::string windowsDriveRoot()
{
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, 2);
}

void removeMarker(const std::string& path)
{
    DeleteFileA(path.c_str());
    RemoveDirectoryA(path.c_str());
}

// A marker file (or a directory of that name) at the root of the Windows
// drive, removed again however the test ends.
class DriveRootMarker {
public:
    DriveRootMarker(const char* name, bool asDirectory)
        : path_(windowsDriveRoot() + "\\" + name)
    {
        if (asDirectory)
            CreateDirectoryA(path_.c_str(), nullptr);
        else
            writeFile(path_, "");
    }
    ~DriveRootMarker() { removeMarker(path_); }

private:
    std::string path_;
};

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

// ---------------------------------------------------------------- decisions

TEST(SystemCheckDecisions, SystemIdsAreUpperCaseHexOfAtLeastFourDigits)
{
    EXPECT_EQ("061A", kvil::formatSystemId(0x61A));
    EXPECT_EQ("0000", kvil::formatSystemId(0));
    EXPECT_EQ("0005", kvil::formatSystemId(5));
    EXPECT_EQ("08FC", kvil::formatSystemId(0x8fc));
    EXPECT_EQ("ABCDE", kvil::formatSystemId(0xABCDE));
    EXPECT_EQ("FFFFFFFF", kvil::formatSystemId(0xFFFFFFFF));
}

TEST(SystemCheckDecisions, ExactlyThreeRackWorkstationModelsInAnyLetterCase)
{
    for (const char* id : {"061A", "061a", "0718", "0AAA", "0aaa"})
        EXPECT_TRUE(kvil::isRackWorkstation(id)) << id;
    for (const char* id : {"61A", "00AAA", "0AAA ", "0719", ""})
        EXPECT_FALSE(kvil::isRackWorkstation(id)) << id;
}

TEST(SystemCheckDecisions, TheMakersNameMustOpenTheVendorName)
{
    for (const char* name : {"Tavrin Inc.", "TAVRIN", "tavrin computer"})
        EXPECT_TRUE(kvil::isMakersHardware(name)) << name;
    for (const char* name : {"Built by Tavrin", " Tavrin", "Tavri", ""})
        EXPECT_FALSE(kvil::isMakersHardware(name)) << name;
}

// ---------------------------------------------------------------- main flow

class SystemCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        scrubProductRegistry();
        removeMarker(windowsDriveRoot() + "\\nosystemcheck.txt");  // left by a crashed run
    }
    void TearDown() override { scrubProductRegistry(); }

    // A session as the package starts it: CP_SUPPORTEDSYSTEM preset, so that
    // an untouched value shows.
    MSIHANDLE session(const SupportFolder& support)
    {
        return package.property("SUPPORTDIR", support.path())
            .property("CP_SUPPORTEDSYSTEM", "preset")
            .property("Manufacturer", "Packager")
            .open();
    }

    ActionRun check(const SupportFolder& support)
    {
        ActionRun run = runAction(caKVILSystemCheck, session(support));
        EXPECT_CLEAN(run);
        EXPECT_TRUE(run.boxes.empty());
        return run;
    }

    std::string workFolder() const { return environment.programFiles + "\\tempini"; }

    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    InstallerLog log;
    TestPackage package{scratch};
};

TEST_F(SystemCheck, SupportedServerOfTheMaker)
{
    SupportFolder support(scratch, "r14g-supported.ini");
    EXPECT_EQ(0u, check(support).result);

    const std::string hwlist = workFolder() + "\\hwlist.ini";
    EXPECT_EQ((std::vector<std::string>{"Using SMBIOS to get system id.",
                                        "System id of the system = 08FC",
                                        "System does not need the adaptec filter driver.",
                                        "The hw file is " + hwlist,
                                        "This is not an Lumetra Rack system",
                                        "This is supported system."}),
              loggedTexts(support));
    EXPECT_TRUE(log.contains("System id of the system = 08FC"));  // reaches the installer log

    EXPECT_EQ("08FC", package.get("CP_SYSTEMID"));
    EXPECT_EQ("preset", package.get("CP_SUPPORTEDSYSTEM"));
    EXPECT_EQ("YES", package.get("CP_TAVRINSERVER"));
    EXPECT_EQ("", package.get("CP_PEARL"));
    EXPECT_EQ("", package.get("CP_REQUIRESAFAMGT"));
    EXPECT_EQ("Orvessa Test", package.get("ProductName"));
    EXPECT_EQ("Packager", package.get("Manufacturer"));
    // The prefix's Windows 7 is neither release.
    EXPECT_EQ("", package.get("CP_2012"));
    EXPECT_EQ("", package.get("CP_2012R2"));

    // The library read copies in the work folder, which is gone afterwards.
    EXPECT_EQ(std::vector<std::string>{"RequiresAfamgt(\"" + workFolder() +
                                       "\\legadp.ini\", \"08FC\") = 0"},
              callsOf(support, "RequiresAfamgt"));
    EXPECT_EQ(std::vector<std::string>{"IsSupportedSystem(\"" + hwlist + "\", \"08FC\") = 1"},
              callsOf(support, "IsSupportedSystem"));
    EXPECT_FALSE(exists(workFolder()));
}

TEST_F(SystemCheck, OlderModelNeedingTheFilterDriver)
{
    SupportFolder support(scratch, "r11g-older.ini");
    EXPECT_EQ(0u, check(support).result);
    EXPECT_EQ("0287", package.get("CP_SYSTEMID"));
    EXPECT_EQ("YES", package.get("CP_REQUIRESAFAMGT"));
    EXPECT_EQ("2", package.get("CP_SUPPORTEDSYSTEM"));
    std::vector<std::string> texts = loggedTexts(support);
    EXPECT_TRUE(contains(texts, "System needs the adaptec filter driver."));
    EXPECT_TRUE(contains(texts, "This is an older system no longer supported."));
    EXPECT_FALSE(exists(workFolder()));
}

TEST_F(SystemCheck, UnknownModelOfAnotherMakerGetsTheNeutralName)
{
    SupportFolder support(scratch, "unsupported.ini");
    EXPECT_EQ(0u, check(support).result);
    EXPECT_EQ("0BEE", package.get("CP_SYSTEMID"));
    EXPECT_EQ("0", package.get("CP_SUPPORTEDSYSTEM"));
    EXPECT_TRUE(contains(loggedTexts(support), "This is NOT a supported system."));
    EXPECT_EQ("NO", package.get("CP_TAVRINSERVER"));
    EXPECT_EQ("Systems Management Software (64-Bit)", package.get("ProductName"));
    EXPECT_EQ("Tavrin Inc.", package.get("Manufacturer"));
    EXPECT_EQ("", package.get("CP_PEARL"));
}

// ---------------------------------------------------------------- rack workstations

TEST_F(SystemCheck, RackWorkstationIsAcceptedWhateverTheListSays)
{
    SupportFolder support(scratch, "rack-workstation.ini");  // 0AAA, not in hwlist.ini
    EXPECT_EQ(0u, check(support).result);
    EXPECT_EQ("0AAA", package.get("CP_SYSTEMID"));
    EXPECT_EQ("YES", package.get("CP_PEARL"));
    EXPECT_EQ("preset", package.get("CP_SUPPORTEDSYSTEM"));
    ASSERT_EQ(1u, callsOf(support, "IsSupportedSystem").size());
    EXPECT_NE(std::string::npos, callsOf(support, "IsSupportedSystem")[0].find(" = 0"));

    std::vector<std::string> texts = loggedTexts(support);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ("This is Rack Lumetra system", texts[texts.size() - 2]);
    EXPECT_EQ("This is supported system.", texts.back());
}

TEST_F(SystemCheck, ModelNumberOfThreeDigitsIsPaddedIntoARackWorkstation)
{
    SupportFolder support(scratch);
    support.profileText("[Machine]\nSystemId=61A\nGeneration=12\nVendor=Tavrin Inc.\n");
    EXPECT_EQ(0u, check(support).result);
    EXPECT_EQ("061A", package.get("CP_SYSTEMID"));
    EXPECT_EQ("YES", package.get("CP_PEARL"));
    EXPECT_TRUE(contains(loggedTexts(support), "System id of the system = 061A"));
}

// ---------------------------------------------------------------- registry values

TEST_F(SystemCheck, RegistrySystemIdOfFourCharactersIsUsedAsStored)
{
    setRegistryString(kSystemsManagementKey, "SYSTEMID", "0aaa");
    SupportFolder support(scratch, "r14g-supported.ini");
    EXPECT_EQ(0u, check(support).result);
    EXPECT_TRUE(callsOf(support, "GetSystemId").empty());
    EXPECT_EQ("Using registry to get system id.", loggedTexts(support).at(0));
    EXPECT_EQ("0aaa", package.get("CP_SYSTEMID"));
    EXPECT_EQ("YES", package.get("CP_PEARL"));  // letter case ignored
    EXPECT_EQ(std::vector<std::string>{"IsSupportedSystem(\"" + workFolder() +
                                       "\\hwlist.ini\", \"0aaa\") = 0"},
              callsOf(support, "IsSupportedSystem"));
}

TEST_F(SystemCheck, RegistrySystemIdOfThreeCharactersIsIgnored)
{
    setRegistryString(kSystemsManagementKey, "SYSTEMID", "61A");
    SupportFolder support(scratch, "r14g-supported.ini");
    EXPECT_EQ(0u, check(support).result);
    EXPECT_EQ(1u, callsOf(support, "GetSystemId").size());
    EXPECT_EQ("Using SMBIOS to get system id.", loggedTexts(support).at(0));
    EXPECT_EQ("08FC", package.get("CP_SYSTEMID"));
    EXPECT_EQ("", package.get("CP_PEARL"));
}

TEST_F(SystemCheck, RecordedVendorOfTheMakerSparesTheLibraryQuestion)
{
    setRegistryString(kKevanaKey, "VENDOR", "Tavrin Inc.");
    SupportFolder support(scratch, "unsupported.ini");  // the library says another maker
    EXPECT_EQ(0u, check(support).result);
    EXPECT_TRUE(callsOf(support, "GetVendorNameString").empty());
    EXPECT_EQ("YES", package.get("CP_TAVRINSERVER"));
    EXPECT_EQ("Orvessa Test", package.get("ProductName"));
}

TEST_F(SystemCheck, RecordedVendorNamingTheMakerLaterOnAsksTheLibrary)
{
    setRegistryString(kKevanaKey, "VENDOR", "Built by Tavrin");
    SupportFolder support(scratch);
    support.profileText("[Machine]\nSystemId=08FC\nGeneration=14\nVendor=TAVRIN\n");
    EXPECT_EQ(0u, check(support).result);
    EXPECT_EQ(1u, callsOf(support, "GetVendorNameString").size());
    EXPECT_EQ("YES", package.get("CP_TAVRINSERVER"));
}

TEST_F(SystemCheck, VendorNameIsComparedUpperCased)
{
    SupportFolder support(scratch);
    support.profileText("[Machine]\nSystemId=08FC\nGeneration=14\nVendor=tavrin labs\n");
    EXPECT_EQ(0u, check(support).result);
    EXPECT_EQ("YES", package.get("CP_TAVRINSERVER"));
}

// ---------------------------------------------------------------- skipping the qualification

TEST_F(SystemCheck, SystemCheckNoSkipsOnlyTheQualification)
{
    package.property("SYSTEMCHECK", "no");
    SupportFolder support(scratch, "r11g-older.ini");
    EXPECT_EQ(0u, check(support).result);

    EXPECT_EQ("0287", package.get("CP_SYSTEMID"));
    EXPECT_EQ("YES", package.get("CP_REQUIRESAFAMGT"));
    EXPECT_EQ("preset", package.get("CP_SUPPORTEDSYSTEM"));
    EXPECT_EQ("", package.get("CP_TAVRINSERVER"));
    EXPECT_EQ("", package.get("CP_PEARL"));
    EXPECT_EQ("User does not want to check the system.", loggedTexts(support).back());
    EXPECT_TRUE(callsOf(support, "IsSupportedSystem").empty());
    EXPECT_TRUE(callsOf(support, "GetVendorNameString").empty());
    EXPECT_FALSE(exists(workFolder()));
}

TEST_F(SystemCheck, MarkerFileAtTheWindowsDriveRootSkipsTheQualification)
{
    SupportFolder support(scratch, "unsupported.ini");
    ActionRun run;
    {
        DriveRootMarker marker("nosystemcheck.txt", false);
        run = check(support);
    }
    EXPECT_EQ(0u, run.result);
    EXPECT_EQ("0BEE", package.get("CP_SYSTEMID"));
    EXPECT_EQ("preset", package.get("CP_SUPPORTEDSYSTEM"));
    EXPECT_EQ("", package.get("CP_TAVRINSERVER"));
    EXPECT_EQ("User does not want to check the system.", loggedTexts(support).back());
}

TEST_F(SystemCheck, DirectoryNamedLikeTheMarkerDoesNotSkip)
{
    SupportFolder support(scratch, "unsupported.ini");
    ActionRun run;
    {
        DriveRootMarker marker("nosystemcheck.txt", true);
        run = check(support);
    }
    EXPECT_EQ(0u, run.result);
    EXPECT_EQ("0", package.get("CP_SUPPORTEDSYSTEM"));
    EXPECT_EQ("NO", package.get("CP_TAVRINSERVER"));
    EXPECT_FALSE(contains(loggedTexts(support), "User does not want to check the system."));
}

// ---------------------------------------------------------------- work folder trouble

TEST_F(SystemCheck, WorkFolderThatCannotBeCreatedStopsTheCheckBeforeTheRules)
{
    const std::string programFiles = scratch / "missing\\Program Files";  // parent absent
    setEnvironment("ProgramFiles", programFiles);
    SupportFolder support(scratch, "r11g-older.ini");
    EXPECT_EQ(1603u, check(support).result);

    const std::string rules = programFiles + "\\tempini\\legadp.ini";
    std::vector<std::string> texts = loggedTexts(support);
    EXPECT_TRUE(contains(texts,
                         "Unable to create <ProgramFiles>/tempini folder. Cannot copy legadp.ini file."));
    EXPECT_TRUE(contains(texts, "Cannot copy file" + rules));
    EXPECT_TRUE(log.contains(kvil::couldNotStage(support / "legadp.ini", ERROR_PATH_NOT_FOUND)));
    EXPECT_TRUE(callsOf(support, "RequiresAfamgt").empty());
    EXPECT_TRUE(callsOf(support, "IsSupportedSystem").empty());
    EXPECT_EQ("", package.get("CP_REQUIRESAFAMGT"));
    EXPECT_EQ("preset", package.get("CP_SUPPORTEDSYSTEM"));
}

// Faults a server meets where the check stages the library's rule files: a
// file held open by another program, a file where the work folder must be, a
// folder where a file must be, a package without a list, a full disk. Each
// stops the check before the library judges anything, with one log line that
// names the file and the reason; once the fault is gone the check works.
TEST_F(SystemCheck, RuleFilesThatCannotBeStagedStopTheCheck)
{
    SupportFolder support(scratch, "r14g-supported.ini");
    const std::string work = workFolder();
    const std::string rules = support / "legadp.ini", list = support / "hwlist.ini";
    const std::string listText = readFile(list);
    std::unique_ptr<HeldOpen> held;
    std::unique_ptr<FullDisk> disk;
    const struct {
        const char* fault;
        std::function<void()> make;
        std::string line;
        bool rulesRead;  // the filter-driver question was asked
    } rows[] = {
        {"an old list held open",
         [&] { CreateDirectoryA(work.c_str(), nullptr);
               held.reset(new HeldOpen(work + "\\hwlist.ini")); },
         kvil::couldNotStage(list, ERROR_SHARING_VIOLATION), true},
        {"old rules held open",
         [&] { CreateDirectoryA(work.c_str(), nullptr);
               held.reset(new HeldOpen(work + "\\legadp.ini")); },
         kvil::couldNotStage(rules, ERROR_SHARING_VIOLATION), false},
        {"a file where the work folder must be", [&] { writeFile(work, "x"); },
         kvil::couldNotStage(rules, ERROR_PATH_NOT_FOUND), false},
        {"a folder where the rules must be",
         [&] { CreateDirectoryA(work.c_str(), nullptr);
               CreateDirectoryA((work + "\\legadp.ini").c_str(), nullptr); },
         kvil::couldNotStage(rules, ERROR_ACCESS_DENIED), false},
        {"no list in the package", [&] { DeleteFileA(list.c_str()); },
         kvil::couldNotStage(list, ERROR_FILE_NOT_FOUND), true},
        {"a full disk",
         [&] { disk.reset(new FullDisk(scratch / "full"));
               setEnvironment("ProgramFiles", scratch / "full"); },
         kvil::couldNotStage(rules, ERROR_DISK_FULL), false},
    };
    MSIHANDLE handle = session(support);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        package.set("CP_SUPPORTEDSYSTEM", "preset");
        package.set("CP_TAVRINSERVER", "");
        DeleteFileA((support / "kvilsim-journal.txt").c_str());
        log.clear();
        row.make();
        if (disk && !disk->full()) {
            disk.reset();
            setEnvironment("ProgramFiles", environment.programFiles);
            std::cout << "[  SKIPPED ] a full disk: no tmpfs could be mounted here\n";
            continue;
        }
        ActionRun failed = runAction(caKVILSystemCheck, handle);
        EXPECT_EQ(1603u, failed.result);
        EXPECT_CLEAN(failed);
        EXPECT_TRUE(failed.boxes.empty());
        EXPECT_TRUE(log.contains(row.line)) << row.line;
        EXPECT_EQ(row.rulesRead ? 1u : 0u, callsOf(support, "RequiresAfamgt").size());
        EXPECT_TRUE(callsOf(support, "IsSupportedSystem").empty());
        EXPECT_TRUE(callsOf(support, "GetVendorNameString").empty());
        EXPECT_EQ("preset", package.get("CP_SUPPORTEDSYSTEM"));
        EXPECT_EQ("", package.get("CP_TAVRINSERVER"));

        held.reset();
        disk.reset();
        setEnvironment("ProgramFiles", environment.programFiles);
        DeleteFileA(work.c_str());
        RemoveDirectoryA((work + "\\legadp.ini").c_str());
        writeFile(list, listText);
        ActionRun ordinary = runAction(caKVILSystemCheck, handle);
        EXPECT_EQ(0u, ordinary.result);
        EXPECT_EQ(1u, callsOf(support, "IsSupportedSystem").size());
        EXPECT_FALSE(exists(work));
    }
}

TEST_F(SystemCheck, UnsetProgramFilesIsLogged)
{
    // The work folder then lies at the root of the current drive: make that
    // C: rather than the host's root, and leave a folder already there alone.
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    SetCurrentDirectoryA(scratch.path().c_str());
    if (exists("\\tempini")) {
        SetCurrentDirectoryA(current);
        GTEST_SKIP() << "\\tempini exists on drive C:";
    }
    unsetEnvironment("ProgramFiles");
    SupportFolder support(scratch, "r14g-supported.ini");
    EXPECT_EQ(0u, check(support).result);
    SetCurrentDirectoryA(current);
    std::vector<std::string> texts = loggedTexts(support);
    EXPECT_EQ("ProgramFiles folder not found. Cannot copy the ini files.", texts.at(2));
    EXPECT_TRUE(contains(texts, "The hw file is \\tempini\\hwlist.ini"));
    EXPECT_FALSE(exists("C:\\tempini"));
}

// ---------------------------------------------------------------- failures

TEST_F(SystemCheck, MissingLibraryStopsTheInstallationAtEveryUiLevel)
{
    const std::string folder = scratch / "empty";
    CreateDirectoryA(folder.c_str(), nullptr);
    ActionRun run = runAction(caKVILSystemCheck,
                              package.property("SUPPORTDIR", folder).property("UILevel", "2").open());
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "caKVILSystemCheck",
                      "Failed to load library " + folder + "\\KVIL64.dll", MB_OK,
                      Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].ok);
    EXPECT_FALSE(run.boxes[0].errorIcon);
    EXPECT_EQ("", package.get("CP_SYSTEMID"));
    EXPECT_FALSE(exists(workFolder()));
}

// An installation started by a service: the same failure reaches the
// installer as an error message, and the action still returns.
TEST_F(SystemCheck, WhereNobodyCanSeeABoxTheMissingLibraryIsAnInstallerError)
{
    HiddenWindowStation hidden;
    const std::string folder = scratch / "empty";
    CreateDirectoryA(folder.c_str(), nullptr);
    ActionRun run = runAction(caKVILSystemCheck,
                              package.property("SUPPORTDIR", folder).property("UILevel", "2").open(),
                              {}, &hidden);
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_EQ(0, run.windowsCreated) << "a window on an invisible window station";
    EXPECT_TRUE(log.containsError("Failed to load library " + folder + "\\KVIL64.dll"));
    EXPECT_TRUE(log.contains("Message box \"caKVILSystemCheck\" not shown: no user can see this "
                             "process's windows. Its text follows as an error message to the "
                             "installer."));
}

TEST_F(SystemCheck, EmptySupportFolderIsAFailedLoad)
{
    ActionRun run = runAction(caKVILSystemCheck, package.open());
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "caKVILSystemCheck", "Failed to load library \\KVIL64.dll", MB_OK,
                      Owner::kForeground));
}

struct MissingExport {
    const char* name;
    const char* boxText;
};

void PrintTo(const MissingExport& missing, std::ostream* out)
{
    *out << missing.name;
}

class SystemCheckMissingFunction : public ::testing::TestWithParam<MissingExport> {
protected:
    void SetUp() override { scrubProductRegistry(); }

    ScratchFolder scratch{std::string("SystemCheckMissing_") + GetParam().name};
    EnvironmentGuard environment{scratch};
    TestPackage package{scratch};
};

TEST_P(SystemCheckMissingFunction, StopsBeforeAnyLibraryCall)
{
    SupportFolder support(scratch, "r14g-supported.ini", GetParam().name);
    ActionRun run =
        runAction(caKVILSystemCheck, package.property("SUPPORTDIR", support.path()).open());
    EXPECT_EQ(1603u, run.result);
    EXPECT_CLEAN(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_TRUE(isBox(run, 0, "caKVILSystemCheck",
                      std::string("Failed to get address for function ") + GetParam().boxText,
                      MB_ICONERROR, Owner::kForeground));
    EXPECT_TRUE(run.boxes[0].ok);
    EXPECT_TRUE(run.boxes[0].errorIcon);
    EXPECT_TRUE(support.journal().empty());
    EXPECT_EQ("", package.get("CP_SYSTEMID"));
    EXPECT_FALSE(exists(environment.programFiles + "\\tempini"));
}

INSTANTIATE_TEST_SUITE_P(
    SystemCheck, SystemCheckMissingFunction,
    ::testing::Values(MissingExport{"KVILLog", "KVILLog"},
                      MissingExport{"IsSystem14GFullCheck", "pnGetSystemID"},
                      MissingExport{"GetSystemId", "pnGetSystemID"},
                      MissingExport{"IsSupportedSystem", "pnIsSupportedSystem"},
                      MissingExport{"RequiresAfamgt", "RequiresAfamgt"},
                      MissingExport{"GetVendorNameString", "GetVendorNameString"}),
    [](const ::testing::TestParamInfo<MissingExport>& info) { return info.param.name; });

// ---------------------------------------------------------------- hardware list lookup

class SystemCheckHardwareList : public ::testing::Test {
protected:
    // A session whose SUPPORTDIR holds no hwlist.ini, so the fallbacks show.
    kvil::Installer session()
    {
        CreateDirectoryA(emptySupport.c_str(), nullptr);
        return kvil::Installer(package.property("SUPPORTDIR", emptySupport).open());
    }

    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    TestPackage package{scratch};
    const std::string emptySupport = scratch / "support";
    const std::string copy = environment.programFiles + "\\tempini\\hwlist.ini";
};

TEST_F(SystemCheckHardwareList, CopyInTheWorkFolderComesFirstAndStays)
{
    kvil::Installer installer = session();
    writeFile(emptySupport + "\\hwlist.ini", "[SupportedSystems]\n");
    const std::string source = scratch / "source";
    CreateDirectoryA(source.c_str(), nullptr);
    writeFile(source + "\\hwlist.ini", "");
    package.set("SourceDir", source);

    EXPECT_EQ(copy, kvil::hardwareListPath(installer));
    EXPECT_EQ("[SupportedSystems]\n", readFile(copy));
    EXPECT_EQ(environment.programFiles + "\\tempini", kvil::workFolder());
}

TEST_F(SystemCheckHardwareList, SourceFolderIsTheFirstFallback)
{
    kvil::Installer installer = session();
    const std::string source = scratch / "source";
    CreateDirectoryA(source.c_str(), nullptr);
    writeFile(source + "\\hwlist.ini", "");
    package.set("SourceDir", source);
    package.set("OriginalDatabase", "C:\\elsewhere\\product.msi");

    EXPECT_EQ(source + "\\hwlist.ini", kvil::hardwareListPath(installer));
    EXPECT_TRUE(exists(environment.programFiles + "\\tempini"));  // created all the same
}

TEST_F(SystemCheckHardwareList, StaleCopyIsNotUsedWhenSupportDirCannotBeRead)
{
    kvil::Installer installer = session();
    CreateDirectoryA((environment.programFiles + "\\tempini").c_str(), nullptr);
    writeFile(copy, "stale");
    package.set("SUPPORTDIR", std::string(1100, 'x'));  // a read that fails
    const std::string source = scratch / "source";
    CreateDirectoryA(source.c_str(), nullptr);
    writeFile(source + "\\hwlist.ini", "");
    package.set("SourceDir", source);

    EXPECT_EQ(source + "\\hwlist.ini", kvil::hardwareListPath(installer));
}

TEST_F(SystemCheckHardwareList, OriginalDatabaseFolderIsTheLastResortWhenItHoldsTheList)
{
    kvil::Installer installer = session();
    InstallerLog log;
    package.set("SourceDir", scratch / "nothing-here");
    package.set("OriginalDatabase", scratch / "media\\product.msi");
    EXPECT_EQ("", kvil::hardwareListPath(installer));
    EXPECT_TRUE(log.contains(kvil::couldNotStage(emptySupport + "\\hwlist.ini", ERROR_FILE_NOT_FOUND)));

    CreateDirectoryA((scratch / "media").c_str(), nullptr);
    writeFile(scratch / "media\\hwlist.ini", "");
    EXPECT_EQ(scratch / "media\\hwlist.ini", kvil::hardwareListPath(installer));

    package.set("OriginalDatabase", "");
    EXPECT_EQ("", kvil::hardwareListPath(installer));
}

// A list that SUPPORTDIR holds but that cannot be staged is not replaced by
// the copy an earlier run left: a fallback that exists stands in, and the
// log says why.
TEST_F(SystemCheckHardwareList, AnEarlierRunsCopyIsNeverHandedOver)
{
    kvil::Installer installer = session();
    InstallerLog log;
    writeFile(emptySupport + "\\hwlist.ini", "[SupportedSystems]\n");
    CreateDirectoryA((environment.programFiles + "\\tempini").c_str(), nullptr);
    HeldOpen stale(copy);
    EXPECT_EQ("", kvil::hardwareListPath(installer));
    const std::string line =
        kvil::couldNotStage(emptySupport + "\\hwlist.ini", ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(log.contains(line));

    const std::string source = scratch / "source";
    CreateDirectoryA(source.c_str(), nullptr);
    writeFile(source + "\\hwlist.ini", "");
    package.set("SourceDir", source);
    log.clear();
    EXPECT_EQ(source + "\\hwlist.ini", kvil::hardwareListPath(installer));
    EXPECT_TRUE(log.contains(line));
}

TEST_F(SystemCheckHardwareList, TheActionHandsAnExistingFallbackToTheLibraryAndStopsWithoutOne)
{
    SupportFolder support(scratch, "r14g-supported.ini");
    DeleteFileA((support / "hwlist.ini").c_str());
    package.property("SUPPORTDIR", support.path()).open();
    package.set("SourceDir", "");
    package.set("OriginalDatabase", scratch / "product.msi");

    ActionRun none = runAction(caKVILSystemCheck, package.session());
    EXPECT_EQ(1603u, none.result);
    EXPECT_CLEAN(none);
    EXPECT_TRUE(callsOf(support, "IsSupportedSystem").empty());
    EXPECT_EQ("", package.get("CP_SUPPORTEDSYSTEM"));
    EXPECT_FALSE(exists(environment.programFiles + "\\tempini"));

    writeFile(scratch / "hwlist.ini", "");
    ActionRun run = runAction(caKVILSystemCheck, package.session());
    EXPECT_EQ(0u, run.result);
    EXPECT_CLEAN(run);
    EXPECT_TRUE(contains(loggedTexts(support), "The hw file is " + scratch / "hwlist.ini"));
    EXPECT_EQ(std::vector<std::string>{"IsSupportedSystem(\"" + scratch / "hwlist.ini" +
                                       "\", \"08FC\") = 0"},
              callsOf(support, "IsSupportedSystem"));
    EXPECT_EQ("0", package.get("CP_SUPPORTEDSYSTEM"));
    EXPECT_FALSE(exists(environment.programFiles + "\\tempini"));
}

// ---------------------------------------------------------------- Windows release

// The release is fixed when a process starts, so these run in a copy of this
// program under another name, which Wine's per-program settings show another
// version (the embedded supportedOS manifest lets it see 6.3). The child runs
// only the test below, told by KVIL_CHILD_RELEASE which minor version it sees.
namespace {

const char* const kChildVariable = "KVIL_CHILD_RELEASE";
const char* const kChildTest = "SystemCheckRelease.ChildSeesItsOwnRelease";

// Runs the child test in a copy of this program that Wine shows `version`;
// returns its exit code and leaves its output in `output`.
DWORD runChild(const ScratchFolder& scratch, const std::string& version,
               const std::string& expectedMinor, std::string& output)
{
    setEnvironment(kChildVariable, expectedMinor);
    DWORD exitCode = runTestUnderRelease(scratch, version, kChildTest, output);
    unsetEnvironment(kChildVariable);
    return exitCode;
}

}  // namespace

TEST(SystemCheckRelease, Windows62And63AreFlaggedUnlessSuppressed)
{
    ScratchFolder scratch;
    for (const auto& release : {std::make_pair("win8", "2"), std::make_pair("win81", "3")}) {
        std::string output;
        EXPECT_EQ(0u, runChild(scratch, release.first, release.second, output)) << output;
        // The child must really have run its test, not skipped or missed it.
        EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test.")) << output;
        EXPECT_EQ(std::string::npos, output.find("SKIPPED")) << output;
    }
}

// The child of the test above.
CHILD_TEST(SystemCheckRelease, ChildSeesItsOwnRelease)
{
    char minor[8] = {};
    ASSERT_NE(0u, GetEnvironmentVariableA(kChildVariable, minor, sizeof(minor)));
    const bool is62 = std::string(minor) == "2";
    ASSERT_EQ(is62, kvil::windowsReleaseIs(2));
    ASSERT_EQ(!is62, kvil::windowsReleaseIs(3));

    ScratchFolder scratch;
    EnvironmentGuard environment(scratch);
    scrubProductRegistry();
    SupportFolder support(scratch);
    {
        TestPackage package(scratch);
        ActionRun run = runAction(caKVILSystemCheck,
                                  package.property("SUPPORTDIR", support.path()).open());
        EXPECT_EQ(0u, run.result);
        EXPECT_CLEAN(run);
        EXPECT_EQ(is62 ? "YES" : "", package.get("CP_2012"));
        EXPECT_EQ(is62 ? "" : "YES", package.get("CP_2012R2"));
    }
    {
        // Set before the library is even looked for.
        TestPackage package(scratch);
        ActionRun run = runAction(caKVILSystemCheck,
                                  package.property("SUPPORTDIR", scratch / "nowhere").open());
        EXPECT_EQ(1603u, run.result);
        EXPECT_EQ(1u, run.boxes.size());
        EXPECT_TRUE(isBox(run, 0, "caKVILSystemCheck",
                          "Failed to load library " + scratch / "nowhere" + "\\KVIL64.dll", MB_OK,
                          Owner::kForeground));
        EXPECT_EQ(is62 ? "YES" : "", package.get("CP_2012"));
        EXPECT_EQ(is62 ? "" : "YES", package.get("CP_2012R2"));
    }
    {
        TestPackage package(scratch);
        DriveRootMarker marker("nooscheck.txt", false);
        ActionRun run = runAction(caKVILSystemCheck,
                                  package.property("SUPPORTDIR", support.path()).open());
        EXPECT_EQ(0u, run.result);
        EXPECT_EQ("", package.get("CP_2012"));
        EXPECT_EQ("", package.get("CP_2012R2"));
    }
    scrubProductRegistry();
}
