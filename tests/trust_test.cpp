// What the actions refuse to use because another user could have planted or
// changed it: files and folders of another owner or writable by everyone,
// links, a folder swapped during a removal, a stored value that would carry a
// second command. Each case sits beside the same call on the suite's own
// folders, which the other tests run.
#include "harness/support_folder.h"
#include "runtime/exports.h"
#include "runtime/files.h"
#include "runtime/trust.h"

#include <atomic>
#include <thread>

using namespace test;

namespace {

const std::string kSystemsManagement =
    "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Applications\\SystemsManagement";

bool giveAway(const std::string& path, bool toNobody)
{
    return toNobody ? giveToNobody(path) : makeWorldWritable(path);
}

std::string reasonFor(bool toNobody)
{
    return toNobody ? "owned by S-1-5-7" : "writable by S-1-1-0";
}

}  // namespace

class Trust : public ::testing::Test {
protected:
    void SetUp() override
    {
        scrubProductRegistry();
        createKey(kSystemsManagement);
        CreateDirectoryA(shared().c_str(), nullptr);
    }
    void TearDown() override { scrubProductRegistry(); }
    std::string shared() const { return environment.systemDrive + "\\tempini"; }
    void store(const std::string& text)
    {
        CreateDirectoryA(shared().c_str(), nullptr);
        writeFile(shared() + "\\kvil100.txt", text);
    }

    ScratchFolder scratch;
    EnvironmentGuard environment{scratch};
    Recorder recorder{scratch};
    TestPackage package{scratch};
};

TEST_F(Trust, SupportFilesOfAnotherUserAreNeitherLoadedNorHandedOn)
{
    const struct {
        Action action;
        const char* file;  // empty: SUPPORTDIR itself
        UINT result;       // what a missing library gives
    } cases[] = {
        {caKVILSystemCheck, "", 1603},
        {caKVILSystemCheck, "KVIL64.dll", 1603},
        {caKVILSystemCheck, "legadp.ini", 1603},
        {caKVILSystemCheck, "hwlist.ini", 1603},
        {caKVILPreReqCheckNode, "ssa_kvi.log", 1603},
        {caKVILPreReqCheckNode, "IsHTTPSListenerPresent.vbs", 1603},
        {caKVILPreInstall, "iws.ini", 1603},
        {caKVILPostInstall, "hwlist.ini", 1603},
        {caKVILInstallPNPDrivers, "PNPDRVR32.DLL", 0},
        {caKVILFinalize, "kva.properties", 0},
        {caKVILJREUpgrade, "KVKSMIG.jar", 1603},
        {caKVILRunVCRedist, "Windows8.1-KB2999226-x64.msu", 1603},
    };
    MSIHANDLE session = package.open();
    int round = 0;
    for (const auto& c : cases) {
        for (bool toNobody : {true, false}) {
            SCOPED_TRACE(std::string(c.file) + (toNobody ? " of nobody" : " writable by all"));
            ScratchFolder own("trust" + std::to_string(round++));
            SupportFolder support(own);
            const std::string path = *c.file ? support / c.file : support.path();
            if (*c.file && !exists(path))
                support.file(c.file, "x");
            ASSERT_TRUE(giveAway(path, toNobody));
            store("SUPPORTDIR=" + support.path() + "\r\nIWS=INSTALL\r\n");
            package.set("SUPPORTDIR", support.path());
            package.set("CustomActionData", "a;b;2;" + support.path() + ";2012 R2;1033");
            InstallerLog log;
            ActionRun run = runAction(c.action, session);
            EXPECT_EQ(c.result, run.result);
            EXPECT_CLEAN(run);
            EXPECT_TRUE(log.contains("Not trusted: " + path + " (" + reasonFor(toNobody) + ")."));
            EXPECT_TRUE(support.journal().empty());
        }
    }
}

TEST_F(Trust, SharedDataOfAnotherUserReadsAsMissing)
{
    SupportFolder support(scratch);
    for (bool folder : {true, false}) {
        const std::string path = folder ? shared() : shared() + "\\kvil100.txt";
        store("SUPPORTDIR=" + support.path() + "\r\nIWS=INSTALL\r\n");
        ASSERT_TRUE(giveToNobody(path));
        InstallerLog log;
        ActionRun run = runAction(caKVILPreInstall, package.open());
        EXPECT_EQ(1603u, run.result);
        EXPECT_CLEAN(run);
        EXPECT_TRUE(log.contains("Not trusted: " + path + " (owned by S-1-5-7)."));
        // SUPPORTDIR read as missing: the library path is "\KVIL64.dll".
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ("Failed to load library \\KVIL64.dll", run.boxes[0].text);
        EXPECT_TRUE(support.journal().empty());
        kvil::removeDirectoryTree(shared(), true);
        CreateDirectoryA(shared().c_str(), nullptr);
    }
}

TEST_F(Trust, WritersMakeFoldersOfAnotherUserTheirOwn)
{
    // The shared data folder and SUPPORTDIR, owned by nobody and holding his
    // files, are made again: his files are gone, the new folders are trusted.
    SupportFolder support(scratch);
    const std::string extracted = scratch / "extracted";
    CreateDirectoryA(extracted.c_str(), nullptr);
    for (const std::string& folder : {shared(), extracted}) {
        writeFile(folder + "\\planted.txt", "his");
        ASSERT_TRUE(giveToNobody(folder));
    }
    MSIHANDLE session = package.property("SUPPORTDIR", extracted)
                            .property("INSTALLDIR", "C:\\App")
                            .setupFile("lib", "KVIL64.dll", "MZ")
                            .open();
    ActionRun written = runAction(caKVILWriteInfo, session);
    EXPECT_EQ(0u, written.result);
    EXPECT_CLEAN(written);
    for (const std::string& folder : {shared(), extracted}) {
        EXPECT_FALSE(exists(folder + "\\planted.txt")) << folder;
        EXPECT_EQ("", kvil::distrustReason(folder)) << folder;
    }
    EXPECT_EQ("MZ", readFile(extracted + "\\KVIL64.dll"));
    EXPECT_NE(std::string::npos, readFile(shared() + "\\kvil100.txt").find("INSTALLDIR=C:\\App"));

    // The backup folder's parent (CommonAppData\Tavrin): the export makes a
    // parent of nobody its own; the import takes nothing under a link.
    const std::string install = scratch / "install";
    const std::string parent = scratch / "Tavrin";
    const std::string backup = parent + "\\Orvessa";
    CreateDirectoryA(install.c_str(), nullptr);
    CreateDirectoryA((install + "\\kva").c_str(), nullptr);
    CreateDirectoryA((install + "\\kva\\ini").c_str(), nullptr);
    writeFile(install + "\\kva\\ini\\kva.properties", "own");
    CreateDirectoryA(parent.c_str(), nullptr);
    writeFile(parent + "\\planted.txt", "his");
    ASSERT_TRUE(giveToNobody(parent));
    store("INSTALLDIR=" + install + "\r\nCP_ConfigBackupFolder=" + backup + "\r\n");
    ActionRun exported = runAction(caKVILExportKVSAPrefs, session);
    EXPECT_EQ(0u, exported.result);
    EXPECT_CLEAN(exported);
    EXPECT_FALSE(exists(parent + "\\planted.txt"));
    EXPECT_EQ("", kvil::distrustReason(parent));
    EXPECT_EQ("own", readFile(backup + "\\kva\\ini\\kva.properties"));

    const std::string elsewhere = scratch / "elsewhere";
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    CreateDirectoryA((elsewhere + "\\Orvessa").c_str(), nullptr);
    kvil::removeDirectoryTree(parent, true);
    PlantedLink link(parent, elsewhere);
    ASSERT_TRUE(link.made());
    writeFile(install + "\\kva\\ini\\kva.properties", "new");
    InstallerLog log;
    ActionRun imported = runAction(caKVILImportKVSAPrefs, session);
    EXPECT_EQ(0u, imported.result);
    EXPECT_CLEAN(imported);
    EXPECT_TRUE(log.contains("Not trusted: " + parent + " (a link)."));
    EXPECT_EQ("new", readFile(install + "\\kva\\ini\\kva.properties"));
}

TEST_F(Trust, AStoredFolderWithAQuoteRunsNoSecondCommand)
{
    char path[8192] = {};
    GetEnvironmentVariableA("PATH", path, sizeof(path));
    const std::string savedPath = path;
    setEnvironment("PATH", programFolder() + ";" + savedPath);
    SupportFolder support(scratch);
    const std::string install = scratch / "Apps\"&regsvr32 X&\"x";
    const std::string backup = scratch / "Tavrin\\Orvessa\"&regsvr32 X&\"x";
    store("INSTALLDIR=" + install + "\r\nSUPPORTDIR=" + support.path() +
          "\r\nCP_KVREBOOT=YES\r\nCP_ConfigBackupFolder=" + backup + "\r\n");
    MSIHANDLE session = package.open();
    InstallerLog log;
    ActionRun exported = runAction(caKVILExportKVSAPrefs, session);
    ActionRun finalized = runAction(caKVILFinalize, session);
    setEnvironment("PATH", savedPath);
    EXPECT_EQ(0u, finalized.result);
    EXPECT_CLEAN(finalized);
    EXPECT_CLEAN(exported);
    const std::string reason = " (a quote or percent sign in a command line).";
    EXPECT_TRUE(log.contains("Not trusted: " + install + reason));
    EXPECT_TRUE(log.contains("Not trusted: " + backup + reason));
    for (const std::string& line : recorder.lines()) {
        EXPECT_EQ(std::string::npos, line.find("icacls")) << line;
        EXPECT_EQ(std::string::npos, line.find("regsvr32")) << line;
    }
}

TEST_F(Trust, TheProbeWritesThroughNoHardLink)
{
    const std::string folder = scratch / "probed";
    const std::string target = scratch / "target.txt";
    CreateDirectoryA(folder.c_str(), nullptr);
    writeFile(target, "keep");
    ASSERT_TRUE(makeHardLink(folder + "\\kvcheck.txt", target));
    EXPECT_TRUE(kvil::directoryIsWritable(folder));
    EXPECT_EQ("keep", readFile(target));
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\kvcheck-*").c_str(), &entry);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

TEST_F(Trust, AFolderSwappedForALinkDuringARemovalLeadsNowhere)
{
    // While the removal runs, a subfolder keeps being swapped for a link to a
    // folder of read-only files of the same names, round after round: Wine
    // opens an entry relative to a folder through the folder's path.
    const std::string outside = scratch / "outside";
    CreateDirectoryA(outside.c_str(), nullptr);
    for (int n = 0; n < 20; ++n) {
        const std::string file = outside + "\\f" + std::to_string(n) + ".txt";
        writeFile(file, "keep");
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    const std::string tree = scratch / "tree";
    const std::string swapped = tree + "\\a\\b";
    for (int round = 0; round < 20; ++round) {
        for (const std::string& folder : {tree, tree + "\\a", swapped, swapped + "\\c"}) {
            CreateDirectoryA(folder.c_str(), nullptr);
            for (int n = 0; n < 20; ++n)
                writeFile(folder + "\\f" + std::to_string(n) + ".txt", "x");
        }
        {
            FolderSwapper swapper(swapped, outside);
            Sleep(20 + round % 10);
            kvil::removeDirectoryTree(tree, true);
        }
        const DWORD left = GetFileAttributesA(swapped.c_str());
        if (left != INVALID_FILE_ATTRIBUTES && (left & FILE_ATTRIBUTE_REPARSE_POINT))
            removeLink(swapped);  // left by the last turn
        kvil::removeDirectoryTree(tree, true);
        for (int n = 0; n < 20; ++n)
            ASSERT_EQ("keep", readFile(outside + "\\f" + std::to_string(n) + ".txt"))
                << "round " << round;
    }
}
