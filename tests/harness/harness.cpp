#include "harness/harness.h"
#include "runtime/services.h"

#include <objbase.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <algorithm>
#include <thread>

namespace test {

namespace {

std::string newGuid()
{
    GUID guid;
    CoCreateGuid(&guid);
    char text[64];
    std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

void removeTree(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                removeLink(path);  // never what a test's link points to
                continue;
            }
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder.c_str());
}

std::string testName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "run";
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

void check(UINT result, const char* what)
{
    if (result != ERROR_SUCCESS)
        ADD_FAILURE() << what << " failed with " << result;
}

}  // namespace

// ---------------------------------------------------------------- files

std::string programFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ScratchFolder::ScratchFolder(const std::string& name)
{
    CreateDirectoryA("C:\\kviltest", nullptr);
    path_ = "C:\\kviltest\\" + (name.empty() ? testName() : name);
    removeTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    removeTree(path_);
}

// ---------------------------------------------------------------- environment

void setEnvironment(const char* name, const std::string& value)
{
    SetEnvironmentVariableA(name, value.c_str());
}

void unsetEnvironment(const char* name)
{
    SetEnvironmentVariableA(name, nullptr);
}

EnvironmentGuard::EnvironmentGuard(const ScratchFolder& scratch)
{
    for (const char* name : {"TEMP", "TMP", "ProgramFiles", "SYSTEMDRIVE"}) {
        char value[2048];
        DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
        if (length == 0)
            unset_.push_back(name);
        else
            saved_[name] = std::string(value, length);
    }
    temp = scratch / "temp";
    programFiles = scratch / "Program Files";
    systemDrive = scratch / "sysdrive";
    for (const std::string& folder : {temp, programFiles, systemDrive})
        CreateDirectoryA(folder.c_str(), nullptr);
    setEnvironment("TEMP", temp);
    setEnvironment("TMP", temp);
    setEnvironment("ProgramFiles", programFiles);
    setEnvironment("SYSTEMDRIVE", systemDrive);
}

EnvironmentGuard::~EnvironmentGuard()
{
    for (const auto& entry : saved_)
        setEnvironment(entry.first.c_str(), entry.second);
    for (const std::string& name : unset_)
        unsetEnvironment(name.c_str());
}

// ---------------------------------------------------------------- registry

void scrubProductRegistry()
{
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY software;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) ==
            ERROR_SUCCESS) {
            RegDeleteTreeA(software, "Tavrin Computer Corporation");
            RegCloseKey(software);
        }
    }
}

void createKey(const std::string& path, bool view32)
{
    HKEY key;
    REGSAM access = KEY_ALL_ACCESS | (view32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             access, nullptr, &key, nullptr));
    RegCloseKey(key);
}

void setRegistryString(const std::string& path, const char* name, const std::string& value,
                       bool view32)
{
    HKEY key;
    REGSAM access = KEY_ALL_ACCESS | (view32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             access, nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

bool keyExists(const std::string& path, bool view32)
{
    HKEY key;
    REGSAM access = KEY_READ | (view32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// ---------------------------------------------------------------- recorder

Recorder::Recorder(const ScratchFolder& scratch) : log_(scratch / "recorder.log")
{
    setEnvironment("KVIL_RECORDER_LOG", log_);
}

Recorder::~Recorder()
{
    unsetEnvironment("KVIL_RECORDER_LOG");
    for (const std::string& name : variables_)
        unsetEnvironment(name.c_str());
}

void Recorder::exitCode(const std::string& tool, DWORD code)
{
    std::string name = "KVIL_RECORDER_EXIT_" + tool;
    for (char& c : name)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    setEnvironment(name.c_str(), std::to_string(code));
    variables_.push_back(name);
}

std::vector<std::string> Recorder::lines() const
{
    std::vector<std::string> result;
    std::istringstream text(readFile(log_));
    std::string line;
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            result.push_back(line);
    }
    return result;
}

std::vector<std::string> Recorder::waitForLines(size_t count) const
{
    for (int attempt = 0; attempt < 100 && lines().size() < count; ++attempt)
        Sleep(50);
    return lines();
}

// ---------------------------------------------------------------- installer log

namespace {
std::mutex logMutex;
std::vector<std::string> logLines;

int WINAPI captureMessage(void*, UINT type, LPCSTR message)
{
    if (!message)
        return 0;
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.push_back(std::to_string(type >> 24) + ":" + message);
    return 0;
}
}  // namespace

InstallerLog::InstallerLog()
{
    clear();
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIA(captureMessage,
                      INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING |
                          INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                          INSTALLLOGMODE_COMMONDATA | INSTALLLOGMODE_USER,
                      nullptr);
}

InstallerLog::~InstallerLog()
{
    MsiSetExternalUIA(nullptr, 0, nullptr);
}

std::vector<std::string> InstallerLog::lines() const
{
    std::lock_guard<std::mutex> lock(logMutex);
    return logLines;
}

bool InstallerLog::contains(const std::string& line) const
{
    for (const std::string& entry : lines()) {
        size_t text = entry.find(':');
        if (entry.compare(text + 1, std::string::npos, line) == 0)
            return true;
    }
    return false;
}

bool InstallerLog::containsError(const std::string& line) const
{
    const std::vector<std::string> all = lines();
    return std::find(all.begin(), all.end(), "1:" + line) != all.end();
}

void InstallerLog::clear()
{
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.clear();
}

// ---------------------------------------------------------------- packages

TestPackage::TestPackage(const ScratchFolder& scratch)
    : path_(scratch / "test.msi"), productCode_(newGuid())
{
}

TestPackage::~TestPackage()
{
    if (session_)
        MsiCloseHandle(session_);
    if (installed_) {
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        MsiConfigureProductA(productCode_.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    }
}

TestPackage& TestPackage::property(const std::string& name, const std::string& value)
{
    properties_.emplace_back(name, value);
    return *this;
}

TestPackage& TestPackage::feature(const Feature& feature)
{
    features_.push_back(feature);
    return *this;
}

TestPackage& TestPackage::control(const std::string& dialog, const std::string& control,
                                  const std::string& text)
{
    controls_.push_back({dialog, control, text});
    return *this;
}

TestPackage& TestPackage::setupFile(const std::string& key, const std::string& fileName,
                                    const std::string& contents)
{
    setupFiles_.push_back({key, fileName, contents});
    return *this;
}

namespace {

void run(MSIHANDLE database, const std::string& sql)
{
    MSIHANDLE view = 0;
    UINT result = MsiDatabaseOpenViewA(database, sql.c_str(), &view);
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(view, 0);
    if (view)
        MsiCloseHandle(view);
    if (result != ERROR_SUCCESS)
        ADD_FAILURE() << "SQL failed (" << result << "): " << sql;
}

// Inserts a row; every value is a string parameter so no quoting is needed.
void insert(MSIHANDLE database, const std::string& table, const std::vector<std::string>& columns,
            const std::vector<std::string>& values)
{
    std::string sql = "INSERT INTO `" + table + "` (";
    std::string marks;
    for (size_t i = 0; i < columns.size(); ++i) {
        sql += (i ? ", `" : "`") + columns[i] + "`";
        marks += i ? ", ?" : "?";
    }
    sql += ") VALUES (" + marks + ")";
    MSIHANDLE record = MsiCreateRecord(static_cast<UINT>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string& value = values[i];
        bool number = !value.empty() && value.find_first_not_of("-0123456789") == std::string::npos &&
                      columns[i] != "Value" && columns[i] != "Text";
        if (number)
            MsiRecordSetInteger(record, static_cast<UINT>(i + 1), atoi(value.c_str()));
        else if (!value.empty())
            MsiRecordSetStringA(record, static_cast<UINT>(i + 1), value.c_str());
    }
    MSIHANDLE view = 0;
    UINT result = MsiDatabaseOpenViewA(database, sql.c_str(), &view);
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(view, record);
    if (view)
        MsiCloseHandle(view);
    MsiCloseHandle(record);
    if (result != ERROR_SUCCESS)
        ADD_FAILURE() << "insert into " << table << " failed with " << result;
}

}  // namespace

void TestPackage::build()
{
    DeleteFileA(path_.c_str());
    MSIHANDLE database = 0;
    check(MsiOpenDatabaseA(path_.c_str(), MSIDBOPEN_CREATE, &database), "MsiOpenDatabase");
    run(database, "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
                  "LOCALIZABLE PRIMARY KEY `Property`)");
    run(database, "CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` "
                  "CHAR(72), `DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)");
    run(database, "CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), "
                  "`Title` CHAR(64) LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` "
                  "SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT NOT "
                  "NULL PRIMARY KEY `Feature`)");
    run(database, "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), "
                  "`Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` "
                  "CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)");
    run(database, "CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` "
                  "CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`)");
    run(database, "CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50) NOT NULL, "
                  "`Type` CHAR(20) NOT NULL, `X` SHORT NOT NULL, `Y` SHORT NOT NULL, `Width` SHORT "
                  "NOT NULL, `Height` SHORT NOT NULL, `Attributes` LONG, `Property` CHAR(72), "
                  "`Text` LONGCHAR LOCALIZABLE, `Control_Next` CHAR(50), `Help` CHAR(50) "
                  "LOCALIZABLE PRIMARY KEY `Dialog_`, `Control`)");
    run(database, "CREATE TABLE `ISSetupFile` (`ISSetupFile` CHAR(72) NOT NULL, `FileName` "
                  "CHAR(255), `Stream` OBJECT, `Language` CHAR(255), `Splash` SHORT, `Path` "
                  "CHAR(255) PRIMARY KEY `ISSetupFile`)");
    run(database, "CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` "
                  "CHAR(255), `Sequence` SHORT PRIMARY KEY `Action`)");

    std::vector<std::pair<std::string, std::string>> properties = {
        {"ProductCode", productCode_}, {"ProductName", "Orvessa Test"},
        {"ProductVersion", "9.1.0"},  {"ProductLanguage", "1033"},
        {"Manufacturer", "Tavrin Inc."}, {"ALLUSERS", "1"}};
    for (const auto& entry : properties_) {
        bool replaced = false;
        for (auto& known : properties)
            if (known.first == entry.first) {
                known.second = entry.second;
                replaced = true;
            }
        if (!replaced)
            properties.push_back(entry);
    }
    for (const auto& entry : properties)
        insert(database, "Property", {"Property", "Value"}, {entry.first, entry.second});

    insert(database, "Directory", {"Directory", "Directory_Parent", "DefaultDir"},
           {"TARGETDIR", "", "SourceDir"});
    insert(database, "Directory", {"Directory", "Directory_Parent", "DefaultDir"},
           {"INSTALLDIR", "TARGETDIR", "kvtest"});
    for (const Feature& feature : features_) {
        insert(database, "Feature",
               {"Feature", "Title", "Description", "Display", "Level", "Directory_", "Attributes"},
               {feature.name, feature.title, feature.description, "1", "1", "INSTALLDIR", "0"});
        // An empty key path: such components count as installed locally.
        std::string component = "c" + feature.name;
        insert(database, "Component", {"Component", "ComponentId", "Directory_", "Attributes"},
               {component, newGuid(), "INSTALLDIR", "0"});
        insert(database, "FeatureComponents", {"Feature_", "Component_"}, {feature.name, component});
    }
    for (const auto& row : controls_)
        insert(database, "Control",
               {"Dialog_", "Control", "Type", "X", "Y", "Width", "Height", "Attributes", "Text"},
               {row[0], row[1], "ScrollableText", "0", "0", "100", "100", "3", row[2]});
    for (const auto& row : setupFiles_) {
        std::string streamFile = path_ + "." + row[0] + ".bin";
        writeFile(streamFile, row[2]);
        MSIHANDLE record = MsiCreateRecord(3);
        MsiRecordSetStringA(record, 1, row[0].c_str());
        MsiRecordSetStringA(record, 2, row[1].c_str());
        MsiRecordSetStreamA(record, 3, streamFile.c_str());
        MSIHANDLE view = 0;
        check(MsiDatabaseOpenViewA(database,
                                   "INSERT INTO `ISSetupFile` (`ISSetupFile`, `FileName`, `Stream`, "
                                   "`Splash`) VALUES (?, ?, ?, 0)",
                                   &view),
              "open ISSetupFile insert");
        check(MsiViewExecute(view, record), "insert ISSetupFile");
        MsiCloseHandle(view);
        MsiCloseHandle(record);
    }
    const std::vector<std::pair<std::string, std::string>> sequence = {
        {"CostInitialize", "800"},    {"FileCost", "900"},           {"CostFinalize", "1000"},
        {"InstallValidate", "1400"},  {"InstallInitialize", "1500"}, {"ProcessComponents", "1600"},
        {"RegisterProduct", "1700"},  {"PublishFeatures", "1800"},   {"PublishProduct", "1900"},
        {"InstallFinalize", "2000"}};
    for (const auto& step : sequence)
        insert(database, "InstallExecuteSequence", {"Action", "Sequence"}, {step.first, step.second});

    MSIHANDLE summary = 0;
    check(MsiGetSummaryInformationA(database, nullptr, 8, &summary), "summary information");
    MsiSummaryInfoSetPropertyA(summary, PIDSI_TEMPLATE, VT_LPSTR, 0, nullptr, "x64;1033");
    MsiSummaryInfoSetPropertyA(summary, PIDSI_REVNUMBER, VT_LPSTR, 0, nullptr, newGuid().c_str());
    MsiSummaryInfoSetPropertyA(summary, PIDSI_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
    MsiSummaryInfoSetPropertyA(summary, PIDSI_WORDCOUNT, VT_I4, 0, nullptr, nullptr);
    MsiSummaryInfoPersist(summary);
    MsiCloseHandle(summary);
    check(MsiDatabaseCommit(database), "commit");
    MsiCloseHandle(database);
}

void TestPackage::doCosting()
{
    for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
        check(MsiDoActionA(session_, action), action);
}

MSIHANDLE TestPackage::open()
{
    build();
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    check(MsiOpenPackageA(path_.c_str(), &session_), "MsiOpenPackage");
    doCosting();
    return session_;
}

MSIHANDLE TestPackage::openInstalled()
{
    build();
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    check(MsiInstallProductA(path_.c_str(), "REBOOT=ReallySuppress"), "MsiInstallProduct");
    installed_ = true;
    check(MsiOpenPackageA(path_.c_str(), &session_), "MsiOpenPackage");
    doCosting();
    return session_;
}

void TestPackage::requestState(const std::string& feature, INSTALLSTATE state)
{
    check(MsiSetFeatureStateA(session_, feature.c_str(), state), "MsiSetFeatureState");
}

std::string TestPackage::get(const std::string& propertyName) const
{
    char value[4096] = {};
    DWORD size = sizeof(value);
    MsiGetPropertyA(session_, propertyName.c_str(), value, &size);
    return value;
}

void TestPackage::set(const std::string& propertyName, const std::string& value)
{
    check(MsiSetPropertyA(session_, propertyName.c_str(), value.c_str()), "MsiSetProperty");
}

// ---------------------------------------------------------------- message boxes

namespace {

struct BoxScript {
    std::vector<int> answers;
    std::vector<MessageBoxSeen> seen;
    std::set<HWND> answered;
    int windowsCreated = 0;
    // What each box's dialog received, until the box activates.
    std::map<HWND, MessageBoxSeen> params;
};

thread_local BoxScript* currentScript = nullptr;

bool iconIs(HWND box, LPCSTR standardIcon)
{
    HICON expected = LoadIconA(nullptr, standardIcon);
    for (int id : {0x14, 0x440}) {
        if (HWND icon = GetDlgItem(box, id))
            if (reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0)) == expected)
                return true;
    }
    return false;
}

std::string narrow(LPCWSTR text)
{
    if (!text)
        return "";
    char buffer[8192] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer) - 1, nullptr, nullptr);
    return buffer;
}

// MessageBox hands its dialog the MSGBOXPARAMSW it was called with as the
// lParam of WM_INITDIALOG: the whole style and the owner, which the window
// alone does not tell (MB_SYSTEMMODAL and MB_TOPMOST look alike).
LRESULT CALLBACK noteBoxParams(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && currentScript && message->message == WM_INITDIALOG &&
        message->lParam) {
        char className[32] = {};
        GetClassNameA(message->hwnd, className, sizeof(className));
        const MSGBOXPARAMSW* params = reinterpret_cast<const MSGBOXPARAMSW*>(message->lParam);
        if (std::string(className) == "#32770" && params->cbSize == sizeof(MSGBOXPARAMSW)) {
            MessageBoxSeen& seen = currentScript->params[message->hwnd];
            seen.paramsSeen = true;
            seen.style = params->dwStyle;
            seen.owner = params->hwndOwner;
            // MessageBoxA made these from its own text in the system code page.
            seen.caption = narrow(params->lpszCaption);
            seen.text = narrow(params->lpszText);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK answerMessageBox(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && currentScript)
        ++currentScript->windowsCreated;
    if (code == HCBT_ACTIVATE && currentScript) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[32] = {};
        GetClassNameA(box, className, sizeof(className));
        if (std::string(className) == "#32770" && !currentScript->answered.count(box)) {
            currentScript->answered.insert(box);
            MessageBoxSeen seen;
            char text[4096] = {};
            GetWindowTextA(box, text, sizeof(text));
            seen.caption = text;
            text[0] = '\0';
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            seen.text = text;
            seen.yes = GetDlgItem(box, IDYES) != nullptr;
            seen.no = GetDlgItem(box, IDNO) != nullptr;
            seen.ok = GetDlgItem(box, IDOK) != nullptr;
            seen.errorIcon = iconIs(box, IDI_HAND);
            seen.questionIcon = iconIs(box, IDI_QUESTION);
            // Some boxes (MB_SYSTEMMODAL ones among them) activate before
            // their text is set: what the dialog received is the box's text.
            const auto params = currentScript->params.find(box);
            if (params != currentScript->params.end()) {
                seen.paramsSeen = true;
                seen.style = params->second.style;
                seen.owner = params->second.owner;
                seen.caption = params->second.caption;
                seen.text = params->second.text;
            }
            currentScript->seen.push_back(seen);
            int answer = seen.ok ? IDOK : IDNO;
            if (!currentScript->answers.empty()) {
                answer = currentScript->answers.front();
                currentScript->answers.erase(currentScript->answers.begin());
            }
            PostMessageA(box, WM_COMMAND, answer, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A window of the worker's own as the foreground window: a box owned by the
// foreground window names it. Made before the hooks, so it is not counted.
HWND makeForegroundWindow()
{
    HWND window = CreateWindowExA(0, "STATIC", "kviltest foreground", WS_POPUP | WS_VISIBLE, 0, 0,
                                  10, 10, nullptr, nullptr, nullptr, nullptr);
    if (!window || !SetForegroundWindow(window) || GetForegroundWindow() != window)
        ADD_FAILURE() << "the test's window did not become the foreground window";
    return window;
}

}  // namespace

::testing::AssertionResult isBox(const ActionRun& run, size_t index, const std::string& caption,
                                 const std::string& text, UINT style, Owner owner)
{
    if (index >= run.boxes.size())
        return ::testing::AssertionFailure() << "no box " << index << " (" << run.boxes.size()
                                             << " came)";
    const MessageBoxSeen& box = run.boxes[index];
    if (!box.paramsSeen)
        return ::testing::AssertionFailure() << "box " << index << " gave its dialog no "
                                             << "MSGBOXPARAMSW";
    const HWND expectedOwner = owner == Owner::kForeground ? run.foreground : nullptr;
    if (owner == Owner::kForeground && !run.foreground)
        return ::testing::AssertionFailure() << "the run had no foreground window of its own";
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    if (box.caption != caption || box.text != text || box.style != style ||
        box.owner != expectedOwner) {
        char styles[64];
        std::snprintf(styles, sizeof(styles), "0x%08X (expected 0x%08X)", box.style, style);
        result = ::testing::AssertionFailure()
                 << "box " << index << ":\n  caption \"" << box.caption << "\" (expected \""
                 << caption << "\")\n  text \"" << box.text << "\" (expected \"" << text
                 << "\")\n  style " << styles << "\n  owner "
                 << (box.owner == run.foreground && box.owner ? "the foreground window"
                     : box.owner                              ? "another window"
                                                              : "none")
                 << " (expected " << (owner == Owner::kForeground ? "the foreground window" : "none")
                 << ")";
    }
    return result;
}

ActionRun runAction(Action action, MSIHANDLE session, std::vector<int> answers,
                    const HiddenWindowStation* station)
{
    ActionRun run;
    std::thread worker([&] {
        // Before the hooks and the window: a thread with hooks or windows
        // cannot change desktops.
        if (station && !SetThreadDesktop(station->openDesktop()))
            ADD_FAILURE() << "SetThreadDesktop failed with " << GetLastError();
        if (!station)
            run.foreground = makeForegroundWindow();
        BoxScript script;
        script.answers = answers;
        currentScript = &script;
        HHOOK hook = SetWindowsHookExA(WH_CBT, answerMessageBox, nullptr, GetCurrentThreadId());
        HHOOK paramsHook =
            SetWindowsHookExA(WH_CALLWNDPROC, noteBoxParams, nullptr, GetCurrentThreadId());
        run.result = action(session);
        // Counted per thread: whatever the action left open is still here.
        run.leakedHandles = MsiCloseAllHandles();
        UnhookWindowsHookEx(paramsHook);
        UnhookWindowsHookEx(hook);
        currentScript = nullptr;
        run.boxes = script.seen;
        run.windowsCreated = script.windowsCreated;
        if (run.foreground)
            DestroyWindow(run.foreground);
    });
    worker.join();
    run.vendorLibraryLoaded = GetModuleHandleA("KVIL64.dll") != nullptr;
    return run;
}

HiddenWindowStation::HiddenWindowStation()
{
    previous_ = GetProcessWindowStation();
    station_ = CreateWindowStationA("kviltest-hidden", 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station_ || !SetProcessWindowStation(station_)) {
        ADD_FAILURE() << "no hidden window station: " << GetLastError();
        return;
    }
    desktop_ = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop_)
        ADD_FAILURE() << "no desktop on the hidden window station: " << GetLastError();
}

HDESK HiddenWindowStation::openDesktop() const
{
    return OpenDesktopA("Default", 0, FALSE, GENERIC_ALL);
}

HiddenWindowStation::~HiddenWindowStation()
{
    SetProcessWindowStation(previous_);
    if (desktop_)
        CloseDesktop(desktop_);
    if (station_)
        CloseWindowStation(station_);
}

// ---------------------------------------------------------------- Windows release

namespace {

void setWineVersionFor(const std::string& program, const std::string& version)
{
    const std::string path = "Software\\Wine\\AppDefaults\\" + program;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>(version.size() + 1));
    RegCloseKey(key);
}

const char* const kChildTestVariable = "KVIL_CHILD_TEST";

void forgetWineVersionFor(const std::string& program)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + program).c_str());
}

}  // namespace

bool isChildFor(const std::string& fullName)
{
    char name[256] = {};
    DWORD length = GetEnvironmentVariableA(kChildTestVariable, name, sizeof(name));
    return length > 0 && length < sizeof(name) && fullName == name;
}

DWORD runTestUnderRelease(const ScratchFolder& scratch, const std::string& wineVersion,
                          const std::string& testName, std::string& output)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    // Beside the original, where the simulator files are found.
    const std::string program = "kvil_tests_" + wineVersion + ".exe";
    const std::string copy = programFolder() + "\\" + program;
    if (!CopyFileA(self, copy.c_str(), FALSE))
        return static_cast<DWORD>(-1);
    setWineVersionFor(program, wineVersion);

    const std::string outputPath = scratch / (wineVersion + ".txt");
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE out = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string commandLine = "\"" + copy + "\" --gtest_filter=" + testName;
    // The child registers the test only when it is told that it runs it.
    SetEnvironmentVariableA(kChildTestVariable, testName.c_str());
    PROCESS_INFORMATION child = {};
    DWORD exitCode = static_cast<DWORD>(-1);
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &child)) {
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &exitCode);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    SetEnvironmentVariableA(kChildTestVariable, nullptr);
    CloseHandle(out);

    forgetWineVersionFor(program);
    DeleteFileA(copy.c_str());
    output = readFile(outputPath);
    return exitCode;
}

TestService::TestService(const std::string& name) : name_(name)
{
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    std::string binary = "\"" + programFolder() + "\\kviltestsvc.exe\"";
    service_ = CreateServiceA(manager_, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                              SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr, nullptr,
                              nullptr, nullptr);
    EXPECT_TRUE(service_ != nullptr) << GetLastError();
}

TestService::~TestService()
{
    stop();
    DeleteService(service_);
    CloseServiceHandle(service_);
    CloseServiceHandle(manager_);
}

void TestService::start()
{
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr));
    for (int i = 0; i < 100 && !kvil::serviceIsRunning(name_); ++i)
        Sleep(20);
}

void TestService::stop()
{
    SERVICE_STATUS status;
    ControlService(service_, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 100 && QueryServiceStatus(service_, &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i)
        Sleep(20);
}

}  // namespace test
