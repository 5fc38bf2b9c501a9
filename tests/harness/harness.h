// Test harness: real installer sessions, log capture, message boxes read and
// answered, scratch folders, environment and registry isolation, recorder
// programs, and the hygiene check made after every action call.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace test {

using Action = UINT(__stdcall*)(MSIHANDLE);

// The folder of the test program (where the DLLs and recorders are built).
std::string programFolder();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool exists(const std::string& path);

// A fresh folder under C:\kviltest, removed again when the test ends.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name = "");
    ~ScratchFolder();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Points TEMP, TMP, ProgramFiles and SYSTEMDRIVE at scratch folders for the
// length of a test, and puts the old values back afterwards.
class EnvironmentGuard {
public:
    explicit EnvironmentGuard(const ScratchFolder& scratch);
    ~EnvironmentGuard();
    std::string temp, programFiles, systemDrive;

private:
    std::map<std::string, std::string> saved_;
    std::vector<std::string> unset_;
};

void setEnvironment(const char* name, const std::string& value);
void unsetEnvironment(const char* name);

// Removes every key of the product's maker in both registry views.
void scrubProductRegistry();
void createKey(const std::string& path, bool view32 = false);
void setRegistryString(const std::string& path, const char* name, const std::string& value,
                       bool view32 = false);
bool keyExists(const std::string& path, bool view32 = false);

// Recorder programs stand in for Windows tools: each start appends
// "<tool>|<command line>" to a log this object owns.
class Recorder {
public:
    explicit Recorder(const ScratchFolder& scratch);
    ~Recorder();
    void exitCode(const std::string& tool, DWORD code);
    std::vector<std::string> lines() const;
    // Waits (briefly) until `count` lines arrived: tools started without
    // waiting finish on their own time.
    std::vector<std::string> waitForLines(size_t count) const;

private:
    std::string log_;
    std::vector<std::string> variables_;
};

// Installer log lines captured through the external UI handler.
class InstallerLog {
public:
    InstallerLog();
    ~InstallerLog();
    std::vector<std::string> lines() const;
    bool contains(const std::string& line) const;
    // The line came as an error message (INSTALLMESSAGE_ERROR).
    bool containsError(const std::string& line) const;
    void clear();
};

struct Feature {
    std::string name;
    std::string title;
    std::string description;
};

// Builds an installer database in a scratch folder and opens a session on it
// with costing done, so feature states can be set.
class TestPackage {
public:
    explicit TestPackage(const ScratchFolder& scratch);
    ~TestPackage();

    TestPackage& property(const std::string& name, const std::string& value);
    TestPackage& feature(const Feature& feature);
    TestPackage& control(const std::string& dialog, const std::string& control,
                         const std::string& text);
    TestPackage& setupFile(const std::string& key, const std::string& fileName,
                           const std::string& contents);

    // Opens the session (building the database the first time).
    MSIHANDLE open();
    // Installs the package for real first, so that its features count as
    // installed; then opens a session on it.
    MSIHANDLE openInstalled();

    void requestState(const std::string& feature, INSTALLSTATE state);
    std::string get(const std::string& propertyName) const;
    void set(const std::string& propertyName, const std::string& value);
    MSIHANDLE session() const { return session_; }
    std::string databasePath() const { return path_; }

private:
    void build();
    void doCosting();

    std::string path_;
    std::string productCode_;
    bool installed_ = false;
    MSIHANDLE session_ = 0;
    std::vector<std::pair<std::string, std::string>> properties_;
    std::vector<Feature> features_;
    std::vector<std::vector<std::string>> controls_;
    std::vector<std::vector<std::string>> setupFiles_;
};

struct MessageBoxSeen {
    std::string caption;
    std::string text;
    bool yes = false, no = false, ok = false;
    bool errorIcon = false, questionIcon = false;
    // The box's parameters as MessageBox passed them to its dialog: the whole
    // style (buttons, icon, default button, modality, every other flag) and
    // the owner window. `paramsSeen` is false when none came.
    bool paramsSeen = false;
    UINT style = 0;
    HWND owner = nullptr;
};

struct ActionRun {
    UINT result = 0;
    UINT leakedHandles = 0;
    bool vendorLibraryLoaded = false;
    std::vector<MessageBoxSeen> boxes;
    // Every window the action created (a box is several).
    int windowsCreated = 0;
    // A window of the test's own, made the foreground window before the
    // action ran (none on a hidden window station).
    HWND foreground = nullptr;
};

// Who owns a box: the foreground window (the test's own), or no window.
enum class Owner { kForeground, kNone };

// The run's box `index` is exactly this box: caption, text, whole style and
// owner.
::testing::AssertionResult isBox(const ActionRun& run, size_t index, const std::string& caption,
                                 const std::string& text, UINT style, Owner owner);

// Calls the export on a worker thread that answers message boxes with the
// scripted buttons (IDYES, IDNO, IDOK...; OK/No when the script runs out) and
// counts the MSI handles left open on that thread. Before the action, the
// worker makes a window of its own the foreground window, so that a box's
// owner can be told. With a station, the worker runs on a desktop of it.
class HiddenWindowStation;
ActionRun runAction(Action action, MSIHANDLE session, std::vector<int> answers = {},
                    const HiddenWindowStation* station = nullptr);

// For the length of a test the process's window station is one that no user
// sees, as in session 0 or a service's station: a box there would wait
// forever for an answer. Actions run with runAction(..., &station) run on a
// desktop of it; the harness's hook still notices (and answers) any box.
class HiddenWindowStation {
public:
    HiddenWindowStation();
    ~HiddenWindowStation();
    HiddenWindowStation(const HiddenWindowStation&) = delete;
    HiddenWindowStation& operator=(const HiddenWindowStation&) = delete;
    // A new handle each time: Wine closes a thread's desktop handle when the
    // thread ends.
    HDESK openDesktop() const;

private:
    HWINSTA previous_ = nullptr;
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
};

// Every action call must leave no MSI handle open and the vendor library
// unloaded.
#define EXPECT_CLEAN(run)                                   \
    do {                                                    \
        EXPECT_EQ(0u, (run).leakedHandles) << "MSI handles left open"; \
        EXPECT_FALSE((run).vendorLibraryLoaded) << "KVIL64.dll still loaded"; \
    } while (0)

// Runs one test of this program (`testName`, a gtest filter) in a copy of it
// that Wine shows another Windows release (`wineVersion`, a winecfg name such
// as "win81" or "win2008"; the embedded supportedOS manifest lets it see 6.3).
// The release is fixed when a process starts, hence the child. Returns its
// exit code and leaves its output in `output`.
DWORD runTestUnderRelease(const ScratchFolder& scratch, const std::string& wineVersion,
                          const std::string& testName, std::string& output);

// Whether this process is the child that runTestUnderRelease started for the
// test `fullName` ("Suite.Name").
bool isChildFor(const std::string& fullName);

// Registers the test only in the child started for it, so that a plain run
// neither lists it nor reports it as skipped. The factory returns the
// fixture's type, as TEST and TEST_F register theirs, so that the child's
// suite keeps one fixture class.
template <typename Fixture, typename TestClass>
bool registerChildTest(const char* suite, const char* name, const char* file, int line)
{
    if (!isChildFor(std::string(suite) + "." + name))
        return false;
    ::testing::RegisterTest(suite, name, nullptr, nullptr, file, line,
                            []() -> Fixture* { return new TestClass; });
    return true;
}

#define KVIL_CHILD_TEST_(Suite, Name, Fixture)                                          \
    class Suite##_##Name##_ChildTest : public Fixture {                                 \
    public:                                                                             \
        void TestBody() override;                                                       \
    };                                                                                  \
    [[maybe_unused]] static const bool Suite##_##Name##_registered =                    \
        registerChildTest<Fixture, Suite##_##Name##_ChildTest>(#Suite, #Name, __FILE__, \
                                                               __LINE__);              \
    void Suite##_##Name##_ChildTest::TestBody()

// Like TEST and TEST_F, for a test that runs only in the child of
// runTestUnderRelease.
#define CHILD_TEST(Suite, Name) KVIL_CHILD_TEST_(Suite, Name, ::testing::Test)
#define CHILD_TEST_F(Fixture, Name) KVIL_CHILD_TEST_(Fixture, Name, Fixture)

// A real service of the prefix's service control manager (the test service
// program), stopped and removed again when the test ends.
class TestService {
public:
    explicit TestService(const std::string& name);
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;
    bool created() const { return service_ != nullptr; }
    void start();
    void stop();

private:
    std::string name_;
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

// A link as a local user could plant it. Wine shows a Unix symbolic link to a
// folder as Windows shows a junction: a folder with FILE_ATTRIBUTE_REPARSE_POINT
// (a link to a file reads as an ordinary file). The link is made with the Unix
// tools and removed again, never its target, before the test's scratch folder
// goes: Wine no longer sees a link whose target is gone.
class PlantedLink {
public:
    PlantedLink(const std::string& link, const std::string& target);
    ~PlantedLink();
    PlantedLink(const PlantedLink&) = delete;
    PlantedLink& operator=(const PlantedLink&) = delete;
    // The link is there and reads as a link.
    bool made() const { return made_; }
    const std::string& path() const { return link_; }

private:
    std::string link_;
    bool made_ = false;
};

// A file held open without sharing, as a virus scanner or a backup agent
// holds one, until the object goes. The file is (re)written with `content`.
class HeldOpen {
public:
    explicit HeldOpen(const std::string& path, const std::string& content = "stale");
    ~HeldOpen();
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A full disk below `folder`: a small tmpfs mounted there (as root) and filled,
// unmounted again when the object goes. Where mounting is refused, `full()`
// is false and the caller skips.
class FullDisk {
public:
    explicit FullDisk(const std::string& folder);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;
    bool full() const { return mounted_ && full_; }

private:
    std::string folder_;
    bool mounted_ = false;
    bool full_ = false;
};

// The Unix path of a Windows path, and a Unix program run from the test (Wine
// reports no exit code for one: callers check the effect).
std::string unixPath(const std::string& path);
void runUnix(std::string commandLine);

// Removes a link itself, whatever Wine shows it as.
void removeLink(const std::string& link);

// A second name for an existing file (a Unix hard link: the same file, which
// Windows counts in nNumberOfLinks). True once the name is seen.
bool makeHardLink(const std::string& name, const std::string& file);

// Another user's file or folder, as a local attacker leaves it, made with the
// Unix tools: Wine derives the owner and access list it reports from the Unix
// owner and mode. `nobody` owns it (Wine: owner S-1-5-7), or everyone may
// write it (o+w: an Everyone entry with write and delete). True once Wine
// reports it so.
bool giveToNobody(const std::string& path);
bool makeWorldWritable(const std::string& path);

// Swaps `folder` for a link to `target` and back, over and over, with the
// Unix tools (Wine's MoveFileA moves a link's target, not the link), until
// the object goes; the folder is then itself again, if it still exists.
class FolderSwapper {
public:
    FolderSwapper(const std::string& folder, const std::string& target);
    ~FolderSwapper();
    FolderSwapper(const FolderSwapper&) = delete;
    FolderSwapper& operator=(const FolderSwapper&) = delete;

private:
    std::string stop_;
    HANDLE process_ = nullptr;
};

}  // namespace test
