// The runtime operations against the real Win32 pieces of the prefix:
// shared data file, child processes, registry views, services, files.
#include "harness/harness.h"
#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/installer.h"
#include "runtime/os_version.h"
#include "runtime/pause.h"
#include "runtime/process.h"
#include "runtime/registry.h"
#include "runtime/services.h"
#include "runtime/shared_data.h"

#include <chrono>

using namespace test;
using namespace kvil;

namespace {
const std::string kTestKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\RuntimeTest";
}

// ---------------------------------------------------------------- shared data file

TEST(StoredValue, FirstLineWithTheKeyAndANonEmptyValueWins)
{
    const std::string text = "INSTALLDIR=\r\nXINSTALLDIR=C:\\X\r\nINSTALLDIR=D:\\Apps\r\nINSTALLDIR=E:\\\r\n";
    EXPECT_EQ("D:\\Apps", findStoredValue(text, "INSTALLDIR"));
    EXPECT_EQ("", findStoredValue(text, "installdir"));
    EXPECT_EQ("", findStoredValue(text, "SUPPORTDIR"));
    EXPECT_EQ("last", findStoredValue("A=1\r\nB=last", "B"));  // no final line break
}

TEST(StoredValue, LongLinesNeitherEndTheSearchNorGetCut)
{
    const std::string longValue(3000, 'v');
    const std::string text = "NOTE=" + longValue + "\r\nREMOVE=ALL\r\nPATH=" + longValue + "\r\n";
    EXPECT_EQ("ALL", findStoredValue(text, "REMOVE"));
    EXPECT_EQ(longValue, findStoredValue(text, "PATH"));
}

TEST(SharedDataFile, LivesUnderTheSystemDriveHiddenAndLockedDown)
{
    ScratchFolder scratch;
    EnvironmentGuard environment(scratch);
    Recorder recorder(scratch);

    const std::string folder = environment.systemDrive + "\\tempini";
    EXPECT_EQ(folder + "\\kvil100.txt", sharedDataFilePath());
    EXPECT_TRUE(pathIsDirectory(folder));
    std::vector<std::string> started = recorder.waitForLines(2);
    EXPECT_NE(started.end(), std::find(started.begin(), started.end(), "attrib|attrib +H " + folder));
    EXPECT_NE(started.end(), std::find(started.begin(), started.end(),
                                       "cacls|cacls " + folder + "\\kvil100.txt /E /R Users"));

    writeFile(folder + "\\kvil100.txt", "SUPPORTDIR=C:\\support\r\n");
    EXPECT_EQ("C:\\support", storedValue("SUPPORTDIR"));
    DeleteFileA((folder + "\\kvil100.txt").c_str());
    EXPECT_EQ("", storedValue("SUPPORTDIR"));
}

TEST(SharedDataFile, WithoutSystemDriveItIsAtTheRootOfTheCurrentDrive)
{
    ScratchFolder scratch;
    EnvironmentGuard environment(scratch);
    Recorder recorder(scratch);
    unsetEnvironment("SYSTEMDRIVE");
    EXPECT_EQ("\\kvil100.txt", sharedDataFilePath());
}

// ---------------------------------------------------------------- processes

TEST(Processes, ExitCodesComeBackWhole)
{
    ScratchFolder scratch;
    Recorder recorder(scratch);
    recorder.exitCode("wusa", 0x80240017);
    DWORD exitCode = 0;
    ASSERT_TRUE(runProcessAndWait("wusa C:\\kb.msu /quiet /norestart", nullptr, false, exitCode));
    EXPECT_EQ(0x80240017u, exitCode);
    EXPECT_EQ(std::vector<std::string>{"wusa|wusa C:\\kb.msu /quiet /norestart"}, recorder.lines());
    EXPECT_EQ(7, runShellCommand("exit /b 7"));
}

TEST(Processes, AMissingProgramIsReportedAndLeavesTheExitCodeAlone)
{
    DWORD exitCode = 42;
    EXPECT_FALSE(startProcess("kvil-no-such-program.exe", nullptr, false));
    EXPECT_FALSE(runProcessAndWait("kvil-no-such-program.exe", nullptr, false, exitCode));
    EXPECT_EQ(42u, exitCode);
}

// ---------------------------------------------------------------- registry

class Registry : public ::testing::Test {
protected:
    void SetUp() override { scrubProductRegistry(); }
    void TearDown() override { scrubProductRegistry(); }

    void setValue(const char* name, DWORD type, const void* data, DWORD size)
    {
        createKey(kTestKey);
        HKEY key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, KEY_ALL_ACCESS, &key);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
};

TEST_F(Registry, ValuesReadAsText)
{
    DWORD all = 4294967295u, small = 300;
    setValue("All", REG_DWORD, &all, sizeof(all));
    setValue("Small", REG_DWORD, &small, sizeof(small));
    setValue("Multi", REG_MULTI_SZ, "first\0second\0", 14);
    const std::string big(1100, 'b');
    setValue("Big", REG_SZ, big.c_str(), static_cast<DWORD>(big.size() + 1));

    EXPECT_EQ("-1", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey, "All"));
    EXPECT_EQ("300", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey, "Small"));
    EXPECT_EQ("first", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey, "Multi"));
    EXPECT_EQ("", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey, "Big"));
    EXPECT_EQ("", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey, "Missing"));
    EXPECT_EQ("", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey + "\\Missing", "Small"));
}

TEST_F(Registry, TheTwoViewsAreSeparate)
{
    setRegistryString(kTestKey, "Where", "64");
    setRegistryString(kTestKey, "Where", "32", true);
    EXPECT_EQ("64", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey, "Where"));
    EXPECT_EQ("32", readRegistryString32(HKEY_LOCAL_MACHINE, kTestKey, "Where"));
    EXPECT_TRUE(keyExists("SOFTWARE\\Wow6432Node\\Tavrin Computer Corporation\\Kevana\\RuntimeTest"));

    createKey(kTestKey + "\\Only64");
    EXPECT_TRUE(registryKeyExists(HKEY_LOCAL_MACHINE, kTestKey + "\\Only64"));
    EXPECT_FALSE(registryKeyExists32(HKEY_LOCAL_MACHINE, kTestKey + "\\Only64"));
}

TEST_F(Registry, WritingNeedsAnExistingKeyAndCreatingKeepsAnExistingOne)
{
    EXPECT_EQ(-1, writeRegistryValue(HKEY_LOCAL_MACHINE, kTestKey, "V", "x", REG_SZ));
    EXPECT_FALSE(keyExists(kTestKey));

    createKey(kTestKey);
    EXPECT_EQ(0, writeRegistryValue(HKEY_LOCAL_MACHINE, kTestKey, "V", "x", REG_SZ));
    EXPECT_EQ("x", readRegistryString(HKEY_LOCAL_MACHINE, kTestKey, "V"));
    EXPECT_EQ(0, createRegistryKey(HKEY_LOCAL_MACHINE, kTestKey, "Child"));
    EXPECT_EQ(0, createRegistryKey(HKEY_LOCAL_MACHINE, kTestKey, "Child"));
    EXPECT_TRUE(keyExists(kTestKey + "\\Child"));
    EXPECT_EQ(-1, createRegistryKey(HKEY_LOCAL_MACHINE, kTestKey + "\\Missing", "Child"));
}

// ---------------------------------------------------------------- services

namespace {

double secondsFor(const std::function<void()>& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(Services, ARunningServiceIsSeenAndWaitedForUntilThePollsRunOut)
{
    setPauseDivisor(100);
    TestService service("kvilrunning");
    service.start();
    EXPECT_TRUE(serviceIsRunning("kvilrunning"));
    EXPECT_FALSE(serviceStartsAutomatically("kvilrunning"));  // demand start
    // 15 polls of 2000 ms, shortened a hundredfold.
    double seconds = secondsFor([] { EXPECT_EQ(0, waitForServiceStop("kvilrunning")); });
    EXPECT_GE(seconds, 0.25);
    service.stop();
    EXPECT_FALSE(serviceIsRunning("kvilrunning"));
    setPauseDivisor(1);
}

TEST(Services, AStoppedServiceCostsTheGraceTimeAndAMissingOneNothing)
{
    setPauseDivisor(100);
    TestService service("kvilstopped");
    double stopped = secondsFor([] { EXPECT_EQ(0, waitForServiceStop("kvilstopped")); });
    EXPECT_GE(stopped, 0.08);  // 9000 ms / 100
    EXPECT_LT(stopped, 0.25);  // not the 15 polls
    setPauseDivisor(1);
    double missing = secondsFor([] { EXPECT_EQ(0, waitForServiceStop("kvil-not-installed")); });
    EXPECT_LT(missing, 1.0);
    EXPECT_FALSE(serviceIsRunning("kvil-not-installed"));
    EXPECT_FALSE(serviceStartsAutomatically("kvil-not-installed"));
}

TEST(Services, AutomaticStartIsReadFromTheServiceKey)
{
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\kvilautostart";
    createKey(key);
    HKEY handle;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle);
    DWORD automatic = 2;
    RegSetValueExA(handle, "Start", 0, REG_DWORD, reinterpret_cast<BYTE*>(&automatic), 4);
    RegCloseKey(handle);
    EXPECT_TRUE(serviceStartsAutomatically("kvilautostart"));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

TEST(OsVersion, TheDefaultPrefixIsAWorkstationWithoutWow64)
{
    EXPECT_TRUE(osIsWorkstation());
    EXPECT_FALSE(osIsCoreOrHypervisor());
    EXPECT_FALSE(runningUnderWow64());
}

// ---------------------------------------------------------------- files

class Files : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::string tree = scratch / "tree";

    void makeTree()
    {
        CreateDirectoryA(tree.c_str(), nullptr);
        CreateDirectoryA((tree + "\\sub").c_str(), nullptr);
        writeFile(tree + "\\a.txt", "a");
        writeFile(tree + "\\sub\\b.txt", "b");
        SetFileAttributesA((tree + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA((tree + "\\sub\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }
};

TEST_F(Files, PathTestsTellFilesFromFolders)
{
    writeFile(scratch / "file.txt", "x");
    EXPECT_TRUE(pathIsFile(scratch / "file.txt"));
    EXPECT_FALSE(pathIsDirectory(scratch / "file.txt"));
    EXPECT_TRUE(pathIsDirectory(scratch.path()));
    EXPECT_FALSE(pathIsFile(scratch.path()));
    EXPECT_TRUE(pathIsFile(scratch / "fi*.txt"));  // judged by the first match
    EXPECT_FALSE(pathIsFile(scratch / "missing.txt"));
}

TEST_F(Files, RemovingATreeDeletesReadOnlyFilesAndSubfolders)
{
    makeTree();
    EXPECT_TRUE(removeDirectoryTree(tree, true));
    EXPECT_FALSE(exists(tree));
    EXPECT_TRUE(removeDirectoryTree(scratch / "missing", true));
    EXPECT_TRUE(removeDirectoryTree("", true));
}

TEST_F(Files, RemovingWithoutRecursionLeavesSubfoldersAndSaysSo)
{
    makeTree();
    EXPECT_FALSE(removeDirectoryTree(tree, false));
    EXPECT_FALSE(exists(tree + "\\a.txt"));
    EXPECT_TRUE(exists(tree + "\\sub\\b.txt"));
}

// A link that a local user planted where a clean-up runs as SYSTEM: the
// clean-up removes the link at most, and nothing behind it loses a file or an
// attribute. (Under Wine the link to a non-empty folder may stay.)
TEST_F(Files, LinksInATreeOrAsItsRootAreNeverFollowed)
{
    const std::string outside = scratch / "outside";
    const std::string keep = outside + "\\keep.txt";
    auto plantOutside = [&] {
        CreateDirectoryA(outside.c_str(), nullptr);
        writeFile(keep, "keep");
        SetFileAttributesA(keep.c_str(), FILE_ATTRIBUTE_READONLY);
    };
    auto outsideIntact = [&] {
        DWORD attributes = GetFileAttributesA(keep.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
               readFile(keep) == "keep";
    };
    struct Case {
        const char* name;
        std::string link;
        bool recurse;
    };
    const Case cases[] = {
        {"link in a subfolder", tree + "\\sub\\link", true},
        {"link beside the files, no recursion", tree + "\\link", false},
        {"the tree itself", tree, true},
        {"the tree itself, no recursion", tree, false},
    };
    for (const Case& c : cases) {
        removeDirectoryTree(tree, true);  // the previous case's link is gone by now
        plantOutside();
        if (c.link != tree)
            makeTree();
        PlantedLink link(c.link, outside);
        ASSERT_TRUE(link.made()) << c.name;
        removeDirectoryTree(tree, c.recurse);
        EXPECT_TRUE(outsideIntact()) << c.name;
        if (c.link != tree) {
            EXPECT_FALSE(exists(tree + "\\a.txt")) << c.name;
        }
    }

    // A second name (hard link) of the read-only file: the name may stay, the
    // file keeps its attributes.
    removeDirectoryTree(tree, true);
    plantOutside();
    makeTree();
    ASSERT_TRUE(makeHardLink(tree + "\\hard.txt", keep));
    removeDirectoryTree(tree, true);
    EXPECT_TRUE(outsideIntact());
    EXPECT_FALSE(exists(tree + "\\a.txt"));
}

TEST_F(Files, WritableProbeCreatesAMissingFolderAndLeavesNoProbeFile)
{
    const std::string folder = scratch / "new";
    EXPECT_TRUE(directoryIsWritable(folder));
    EXPECT_TRUE(pathIsDirectory(folder));
    EXPECT_FALSE(exists(folder + "\\kvcheck.txt"));
    EXPECT_TRUE(directoryIsWritable(folder));
    EXPECT_FALSE(exists(folder + "\\kvcheck.txt"));
    EXPECT_FALSE(directoryIsWritable(scratch / "no\\such\\parent"));
}

TEST_F(Files, CopiesAreLogged)
{
    InstallerLog log;
    TestPackage package(scratch);
    Installer installer(package.open());
    writeFile(scratch / "from.txt", "content");
    copyFileWithLog(installer, scratch / "from.txt", scratch / "to.txt");
    copyFileWithLog(installer, scratch / "absent.txt", scratch / "to2.txt");
    EXPECT_EQ("content", readFile(scratch / "to.txt"));
    EXPECT_TRUE(log.contains("File copied successful for file: " + scratch / "to.txt"));
    EXPECT_TRUE(log.contains("File copied failed for file: " + scratch / "absent.txt"));
}

TEST_F(Files, RemovalAtRestartIsScheduledOnlyForExistingPaths)
{
    const char* sessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    auto pending = [&] {
        HKEY key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_READ, &key);
        DWORD size = 0;
        LONG result = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                                       nullptr, &size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? size : 0;
    };
    DWORD before = pending();
    removeAtRestart(scratch / "missing.txt");
    EXPECT_EQ(before, pending());
    writeFile(scratch / "old.txt", "x");
    removeAtRestart(scratch / "old.txt");
    EXPECT_GT(pending(), before);
    HKEY key;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_ALL_ACCESS, &key);
    RegDeleteValueA(key, "PendingFileRenameOperations");  // nothing in Wine processes it
    RegCloseKey(key);
}

TEST(MarkerFiles, OnlyTheRootOfTheWindowsDriveCounts)
{
    const std::string windows = windowsDirectory();
    ASSERT_GT(windows.size(), 2u);
    const std::string root = windows.substr(0, 2);
    writeFile(windows + "\\nooscheck.txt", "");
    EXPECT_FALSE(osCheckSuppressed());
    DeleteFileA((windows + "\\nooscheck.txt").c_str());

    CreateDirectoryA((root + "\\nosystemcheck.txt").c_str(), nullptr);
    EXPECT_FALSE(systemCheckSuppressed());  // a folder of that name does not count
    RemoveDirectoryA((root + "\\nosystemcheck.txt").c_str());

    writeFile(root + "\\nooscheck.txt", "");
    EXPECT_TRUE(osCheckSuppressed());
    EXPECT_FALSE(systemCheckSuppressed());
    DeleteFileA((root + "\\nooscheck.txt").c_str());
    EXPECT_FALSE(osCheckSuppressed());
}
