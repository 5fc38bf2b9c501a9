// The simulated vendor support library, used the way the custom actions use
// it: a copy in a scratch support folder, LoadLibraryA by full path,
// GetProcAddress by name, FreeLibrary at the end.
#include "harness/harness.h"
#include "runtime/kvil_api.h"

#include <algorithm>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

using namespace test;

namespace {

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

template <typename Fn>
Fn resolve(HMODULE module, const char* name)
{
    // Through void*: a direct cast between function pointer types warns.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const char* const kExports[] = {
    "KVILLog",          "ExecuteCommands",      "LaunchAppAndWait",     "CheckForOldKVNode",
    "IsFeatureSupported", "CheckForNIC",        "CheckForHardWare",     "IsSystem11GorHigher",
    "IsSystem12G",      "IsSystem13GFullCheck", "IsSystem14GFullCheck", "IsSystem15G",
    "IsSystem16G",      "GetSystemId",          "IsSupportedSystem",    "RequiresAfamgt",
    "GetVendorNameString", "UpdateProgressStatusMessage", "UpdateCancelButton"};

// A support folder of its own per test, holding both simulated DLLs.
class Simulator : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CopyFileA((programFolder() + "\\KVIL64.dll").c_str(), at("KVIL64.dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((programFolder() + "\\PNPDRVR32.DLL").c_str(), at("PNPDRVR32.DLL").c_str(), FALSE));
    }

    void TearDown() override
    {
        for (HMODULE module : modules_)
            FreeLibrary(module);
        EXPECT_EQ(nullptr, GetModuleHandleA("KVIL64.dll"));
        EXPECT_EQ(nullptr, GetModuleHandleA("PNPDRVR32.DLL"));
    }

    std::string at(const std::string& name) const { return folder_ + "\\" + name; }

    void useProfile(const std::string& name)
    {
        ASSERT_TRUE(CopyFileA((programFolder() + "\\simfiles\\profiles\\" + name).c_str(),
                              at("kvilsim.ini").c_str(), FALSE));
    }

    void useSample(const std::string& name)
    {
        ASSERT_TRUE(CopyFileA((programFolder() + "\\simfiles\\" + name).c_str(), at(name).c_str(), FALSE));
    }

    template <typename Fn>
    Fn function(const char* name, const char* dll = "KVIL64.dll")
    {
        HMODULE module = LoadLibraryA(at(dll).c_str());
        EXPECT_NE(nullptr, module) << dll;
        modules_.push_back(module);
        Fn fn = resolve<Fn>(module, name);
        EXPECT_NE(nullptr, fn) << name;
        return fn;
    }

    std::vector<std::string> journal(const char* name = "kvilsim-journal.txt") const
    {
        return readLines(at(name));
    }

    ScratchFolder scratch_;
    const std::string folder_ = scratch_.path();
    std::vector<HMODULE> modules_;
};

TEST_F(Simulator, JournalHoldsEachCallWithItsExactArgumentsOnOneLine)
{
    useProfile("r14g-supported.ini");
    useSample("hwlist.ini");
    auto isFeatureSupported = function<IsFeatureSupportedFn>("IsFeatureSupported");
    auto log = function<KVILLogFn>("KVILLog");
    auto checkForNic = function<CheckForNICFn>("CheckForNIC");

    EXPECT_EQ(1, isFeatureSupported(at("hwlist.ini").c_str(), "ivirk", "c60"));
    EXPECT_EQ(0, isFeatureSupported(at("hwlist.ini").c_str(), "iVIRK", "08FC"));
    log(0, "say \"hi\"\nthen go", 2);  // a handle of 0 reaches no installer
    EXPECT_EQ(0, checkForNic(nullptr));

    std::vector<std::string> expected = {
        "IsFeatureSupported(\"" + at("hwlist.ini") + "\", \"ivirk\", \"c60\") = 1",
        "IsFeatureSupported(\"" + at("hwlist.ini") + "\", \"iVIRK\", \"08FC\") = 0",
        "KVILLog(0, \"say \"\"hi\"\"<0A>then go\", 2)",
        "CheckForNIC(NULL) = 0"};
    EXPECT_EQ(expected, journal());
}

TEST_F(Simulator, SixteenthGenerationServerWithoutCardsAnswersFromItsProfile)
{
    useProfile("r16g-nonics.ini");
    EXPECT_EQ(0x0C60u, function<GetSystemIdFn>("GetSystemId")());
    EXPECT_EQ(1, function<HardwareProbeFn>("IsSystem16G")());
    EXPECT_EQ(1, function<HardwareProbeFn>("IsSystem11GorHigher")());
    EXPECT_EQ(0, function<HardwareProbeFn>("IsSystem15G")());
    EXPECT_EQ(0, function<HardwareProbeFn>("IsSystem14GFullCheck")());
    EXPECT_EQ(0, function<CheckForNICFn>("CheckForNIC")("INTEL"));
    EXPECT_EQ(0, function<CheckForNICFn>("CheckForNIC")("broadcom"));

    char* vendor = function<GetVendorNameStringFn>("GetVendorNameString")();
    ASSERT_NE(nullptr, vendor);
    EXPECT_STREQ("TAVRIN", vendor);
    EXPECT_EQ(nullptr, LocalFree(vendor));  // the caller owns it

    // This profile names its own journal.
    EXPECT_FALSE(exists(at("kvilsim-journal.txt")));
    std::vector<std::string> lines = journal("r16g-journal.txt");
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("GetSystemId() = 0x0C60", lines[0]);
    EXPECT_EQ("CheckForNIC(\"broadcom\") = 0", lines[6]);
    EXPECT_EQ("GetVendorNameString() = \"TAVRIN\"", lines[7]);
}

TEST_F(Simulator, OlderModelIsOlderNeedsTheFilterDriverAndHasAnOldNode)
{
    useProfile("r11g-older.ini");
    useSample("hwlist.ini");
    useSample("legadp.ini");
    auto isSupported = function<IsSupportedSystemFn>("IsSupportedSystem");
    auto requiresAfamgt = function<RequiresAfamgtFn>("RequiresAfamgt");

    EXPECT_EQ(2, isSupported(at("hwlist.ini").c_str(), "0287"));
    EXPECT_EQ(1, isSupported(at("hwlist.ini").c_str(), "08FC"));
    EXPECT_EQ(0, isSupported(at("hwlist.ini").c_str(), "0BEE"));
    EXPECT_EQ(0, isSupported(at("missing.ini").c_str(), "0287"));
    EXPECT_EQ(1, requiresAfamgt(at("legadp.ini").c_str(), "287"));
    EXPECT_EQ(0, requiresAfamgt(at("legadp.ini").c_str(), "08FC"));
    EXPECT_EQ(1, function<CheckForOldKVNodeFn>("CheckForOldKVNode")());
    EXPECT_EQ(1, function<HardwareProbeFn>("IsSystem11GorHigher")());
    EXPECT_EQ(0, function<HardwareProbeFn>("IsSystem12G")());
    // Lock on this model; "Default" answers for the others.
    auto isFeatureSupported = function<IsFeatureSupportedFn>("IsFeatureSupported");
    EXPECT_EQ(2, isFeatureSupported(at("hwlist.ini").c_str(), "KVSS", "0287"));
    EXPECT_EQ(2, isFeatureSupported(at("hwlist.ini").c_str(), "NICInt", "0287"));
    EXPECT_EQ(0, isFeatureSupported(at("hwlist.ini").c_str(), "NICInt", "08FC"));
}

TEST_F(Simulator, WithoutProfileItIsASupported14thGenerationServerOfTheMaker)
{
    EXPECT_EQ(0x08FCu, function<GetSystemIdFn>("GetSystemId")());
    EXPECT_EQ(1, function<HardwareProbeFn>("IsSystem14GFullCheck")());
    EXPECT_EQ(1, function<HardwareProbeFn>("CheckForHardWare")());
    EXPECT_EQ(1, function<CheckForNICFn>("CheckForNIC")("Intel"));
    EXPECT_EQ(0, function<CheckForOldKVNodeFn>("CheckForOldKVNode")());
    char* vendor = function<GetVendorNameStringFn>("GetVendorNameString")();
    EXPECT_STREQ("Tavrin Inc.", vendor);
    LocalFree(vendor);
    EXPECT_EQ(6u, journal().size());
}

TEST_F(Simulator, AnswersSectionForcesProbeResults)
{
    writeFile(at("kvilsim.ini"),
              "[Machine]\nGeneration=14\n[Answers]\nIsSystem13GFullCheck=1\nCheckForOldKVNode=2\n");
    EXPECT_EQ(1, function<HardwareProbeFn>("IsSystem13GFullCheck")());
    EXPECT_EQ(1, function<HardwareProbeFn>("IsSystem14GFullCheck")());
    EXPECT_EQ(2, function<CheckForOldKVNodeFn>("CheckForOldKVNode")());
}

TEST_F(Simulator, QuietProfileKeepsNoJournalAndReadsItsFilesOncePerLoad)
{
    writeFile(at("kvilsim.ini"), "[Machine]\nSystemId=0C60\n[Simulator]\nQuiet=1\n");
    writeFile(at("hwlist.ini"), "[SupportedSystems]\n0C60=1\n");
    auto getSystemId = function<GetSystemIdFn>("GetSystemId");
    auto isSupported = function<IsSupportedSystemFn>("IsSupportedSystem");
    EXPECT_EQ(0x0C60u, getSystemId());
    EXPECT_EQ(1, isSupported(at("hwlist.ini").c_str(), "0C60"));

    // Changes count only from the next load on.
    writeFile(at("kvilsim.ini"), "[Machine]\nSystemId=08FC\n");
    writeFile(at("hwlist.ini"), "[SupportedSystems]\n0C60=2\n");
    EXPECT_EQ(0x0C60u, getSystemId());
    EXPECT_EQ(1, isSupported(at("hwlist.ini").c_str(), "0C60"));
    EXPECT_FALSE(exists(at("kvilsim-journal.txt")));

    for (HMODULE module : modules_)
        FreeLibrary(module);
    modules_.clear();
    EXPECT_EQ(0x08FCu, function<GetSystemIdFn>("GetSystemId")());
    EXPECT_EQ(2, function<IsSupportedSystemFn>("IsSupportedSystem")(at("hwlist.ini").c_str(), "0C60"));
    EXPECT_EQ(2u, journal().size());
}

TEST_F(Simulator, ExecuteCommandsStopsAtTheFirstFailingCommand)
{
    writeFile(at("feature.ini"),
              "[PreInstall]\n"
              "1=echo %SYSTEMID% %PHASE% %INSTALLDIR% > \"%TEMPDIR%\\first.txt\"\n"
              "2=exit /b 3\n"
              "3=echo never > \"%TEMPDIR%\\third.txt\"\n");
    auto execute = function<ExecuteCommandsFn>("ExecuteCommands");

    // Like the custom actions: the command file by its full path.
    int result = execute(0, "C:\\Inst", folder_.c_str(), folder_.c_str(),
                         at("feature.ini").c_str(), "0A1B", "PreInstall", FALSE, FALSE);

    EXPECT_EQ(3, result);
    EXPECT_EQ("0A1B PreInstall C:\\Inst \r\n", readFile(at("first.txt")));
    EXPECT_FALSE(exists(at("third.txt")));
    std::vector<std::string> expected = {
        "ExecuteCommands(0, \"C:\\Inst\", \"" + folder_ + "\", \"" + folder_ + "\", \"" +
        at("feature.ini") + "\", \"0A1B\", \"PreInstall\", 0, 0) = 3"};
    EXPECT_EQ(expected, journal());
}

TEST_F(Simulator, ExecuteCommandsKeepsQuotesAndRunsInTheIniFolder)
{
    const std::string iniFolder = at("ini folder");
    ASSERT_TRUE(CreateDirectoryA(iniFolder.c_str(), nullptr));
    writeFile(iniFolder + "\\my tool.cmd", "@echo %~1> \"%~2\"\r\n@cd> here.txt\r\n");
    writeFile(iniFolder + "\\feature.ini",
              "[PostInstall]\n1=\"%INIDIR%\\my tool.cmd\" \"two words\" \"%TEMPDIR%\\arg.txt\"\n");

    // The command file by its name in the ini folder.
    EXPECT_EQ(0, function<ExecuteCommandsFn>("ExecuteCommands")(
                     0, "C:\\Inst", iniFolder.c_str(), folder_.c_str(), "feature.ini", "0A1B",
                     "PostInstall", FALSE, FALSE));
    EXPECT_EQ("two words\r\n", readFile(at("arg.txt")));
    EXPECT_EQ(iniFolder + "\r\n", readFile(iniFolder + "\\here.txt"));
}

TEST_F(Simulator, RollbackAndCompleteRemovalRunTheirOwnSections)
{
    writeFile(at("feature.ini"), "[PreInstall]\n1=echo.> install.txt\n"
                                 "[PreInstall.Rollback]\n1=echo.> rollback.txt\n"
                                 "[PreUnInstall]\n1=echo.> uninstall.txt\n"
                                 "[PreUnInstall.Remove]\n1=echo.> remove.txt\n");
    auto execute = function<ExecuteCommandsFn>("ExecuteCommands");
    auto run = [&](const char* phase, BOOL completeRemoval, BOOL rollback) {
        return execute(0, "C:\\Inst", folder_.c_str(), folder_.c_str(), "feature.ini", "0A1B",
                       phase, completeRemoval, rollback);
    };

    EXPECT_EQ(0, run("PreInstall", FALSE, TRUE));
    EXPECT_TRUE(exists(at("rollback.txt")));
    EXPECT_FALSE(exists(at("install.txt")));
    EXPECT_EQ(0, run("PreUnInstall", TRUE, FALSE));
    EXPECT_TRUE(exists(at("remove.txt")));
    EXPECT_FALSE(exists(at("uninstall.txt")));
    EXPECT_EQ(0, run("PreUnInstall", FALSE, FALSE));
    EXPECT_TRUE(exists(at("uninstall.txt")));
    // Nothing to run is no failure: a missing section, a missing file.
    EXPECT_EQ(0, run("PostInstall", FALSE, FALSE));
    EXPECT_EQ(0, execute(0, "", folder_.c_str(), "", "absent.ini", "", "PreInstall", FALSE, FALSE));
    EXPECT_FALSE(exists(at("install.txt")));
}

// How the simulator explains a program that could not start.
const std::string kFileNotFound = "CreateProcessA failed with error 2 (";

TEST_F(Simulator, LaunchAppAndWaitReturnsTheExitCodeOfAProgramRunInTheWorkingFolder)
{
    auto launch = function<LaunchAppAndWaitFn>("LaunchAppAndWait");
    EXPECT_EQ(7, launch("cmd /c \"cd> cwd.txt& exit 7\"", folder_.c_str(), 0));
    EXPECT_EQ(folder_ + "\r\n", readFile(at("cwd.txt")));
    // A program that cannot start: the journal line says which call failed
    // and why.
    EXPECT_EQ(-1, launch("no-such-program-here.exe", folder_.c_str(), 0));
    EXPECT_EQ(0u, journal().back().find("LaunchAppAndWait(\"no-such-program-here.exe\", \"" +
                                        folder_ + "\", 0) = -1 -- " + kFileNotFound))
        << journal().back();
}

TEST_F(Simulator, ExecuteCommandsTellsTheInstallerWhatItRunsAndWhyACommandCouldNotRun)
{
    writeFile(at("feature.ini"), "[PostInstall]\n1=echo.> ran.txt\n");
    InstallerLog log;
    TestPackage package(scratch_);
    MSIHANDLE session = package.open();
    auto execute = function<ExecuteCommandsFn>("ExecuteCommands");
    auto run = [&] {
        return execute(session, "C:\\Inst", folder_.c_str(), folder_.c_str(), "feature.ini",
                       "0A1B", "PostInstall", FALSE, FALSE);
    };
    log.clear();
    EXPECT_EQ(0, run());
    // Read back as the engine wrote it: no part of a line is taken for a
    // property reference.
    std::vector<std::string> lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("4:KVIL64: running PostInstall of " + at("feature.ini"), lines[0]);

    // An interpreter that does not exist: the start fails, and the log says
    // which call failed with which error before the command's -1.
    char saved[MAX_PATH] = {};
    GetEnvironmentVariableA("COMSPEC", saved, MAX_PATH);
    SetEnvironmentVariableA("COMSPEC", (folder_ + "\\no-such-interpreter.exe").c_str());
    log.clear();
    EXPECT_EQ(-1, run());
    SetEnvironmentVariableA("COMSPEC", saved);
    lines = log.lines();
    const std::string explained = "4:KVIL64: command 1 could not be run: " + kFileNotFound;
    auto explanation = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.rfind(explained, 0) == 0;
    });
    ASSERT_NE(lines.end(), explanation);
    // GetLastError's meaning follows in parentheses.
    EXPECT_GT(explanation->size(), explained.size() + 3);
    EXPECT_EQ(").", explanation->substr(explanation->size() - 2));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "4:KVIL64: command 1 returned -1"));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "1:KVIL64: PostInstall of " + at("feature.ini") +
                                         " failed with -1"));
}

TEST_F(Simulator, InstallPNPDevicesRunsTheDriversOfTheListedFeatures)
{
    writeFile(at("pnpdrivers.ini"), "[SI]\n1=echo %FEATURE%>> \"%SUPPORTDIR%\\drivers.txt\"\n"
                                    "[NICInt]\n1=exit /b 1\n2=echo %FEATURE%>> drivers.txt\n"
                                    "[WMI]\n1=echo %FEATURE%>> drivers.txt\n");
    auto install = function<InstallPNPDevicesFn>("InstallPNPDevices", "PNPDRVR32.DLL");
    install(folder_.c_str(), "C:\\Inst", "NICInt,SI,IWS,");

    // A failing driver does not stop the others; unlisted features run nothing.
    EXPECT_EQ("NICInt\r\nSI\r\n", readFile(at("drivers.txt")));
    std::vector<std::string> expected = {"InstallPNPDevices(\"" + folder_ +
                                         "\", \"C:\\Inst\", \"NICInt,SI,IWS,\")"};
    EXPECT_EQ(expected, journal());
}

TEST_F(Simulator, EachVariantLacksExactlyItsOwnExport)
{
    const std::string variants = programFolder() + "\\simvariants\\no_";
    for (const char* missing : kExports) {
        HMODULE module = LoadLibraryA((variants + missing + "\\KVIL64.dll").c_str());
        ASSERT_NE(nullptr, module) << missing;
        for (const char* name : kExports)
            EXPECT_EQ(name == missing, GetProcAddress(module, name) == nullptr) << missing << " " << name;
        FreeLibrary(module);
        EXPECT_EQ(nullptr, GetModuleHandleA("KVIL64.dll")) << missing;
    }
}

TEST_F(Simulator, LogProgressAndCancelButtonReachTheInstallerWithoutLeakingRecords)
{
    InstallerLog log;
    TestPackage package(scratch_);
    MSIHANDLE session = package.open();
    auto kvilLog = function<KVILLogFn>("KVILLog");
    auto progress = function<UpdateProgressStatusMessageFn>("UpdateProgressStatusMessage");
    auto cancelButton = function<UpdateCancelButtonFn>("UpdateCancelButton");
    log.clear();
    UINT leaked = 0;
    // Handles are counted per thread: whatever the calls left open is here.
    std::thread([&] {
        kvilLog(session, "an information line", 2);
        kvilLog(session, "an error line", 0);
        progress(session, "Installing drivers...");
        cancelButton(session, TRUE);
        leaked = MsiCloseAllHandles();
    }).join();
    EXPECT_EQ(0u, leaked);

    // Message kinds by their top byte: 4 information, 1 error, 8 action
    // start, 11 common data.
    std::vector<std::string> lines = log.lines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("4:an information line", lines[0]);
    EXPECT_EQ("1:an error line", lines[1]);
    EXPECT_EQ(0u, lines[2].find("8:"));
    EXPECT_NE(std::string::npos, lines[2].find("Installing drivers..."));
    EXPECT_EQ(0u, lines[3].find("11:"));
}

}  // namespace
