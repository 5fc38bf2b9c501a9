#include "simulator/simcore.h"

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

namespace kvilsim {

namespace {

// Owns a kernel handle (file, process, thread).
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { if (valid()) CloseHandle(handle_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

std::string trim(const std::string& s)
{
    const char* blanks = " \t\r\n";
    size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool parseHex(std::string s, DWORD& value)
{
    s = trim(s);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s = s.substr(2);
    if (s.empty() || s.size() > 8)
        return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    value = static_cast<DWORD>(std::strtoul(s.c_str(), nullptr, 16));
    return true;
}

std::string environment(const char* name)
{
    // GetEnvironmentVariableA, not getenv: the C runtime's copy misses changes
    // that the calling process made.
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return std::string();
    std::string value(size, '\0');
    DWORD length = GetEnvironmentVariableA(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

void replaceAll(std::string& s, const std::string& from, const std::string& to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

}  // namespace

// ---------------------------------------------------------------- ini files

IniFile IniFile::load(const std::string& path)
{
    IniFile ini;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ini;
    ini.exists_ = true;
    IniEntries* current = nullptr;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);  // UTF-8 byte order mark left by some editors
        first = false;
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = trim(line.substr(1, close == std::string::npos ? close : close - 1));
            ini.sections_.emplace_back(name, IniEntries());
            current = &ini.sections_.back().second;
            continue;
        }
        size_t equals = line.find('=');
        if (current && equals != std::string::npos)
            current->emplace_back(trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
    }
    // Sections of the same name count as one, in file order.
    for (size_t i = 0; i < ini.sections_.size(); ++i) {
        for (size_t j = i + 1; j < ini.sections_.size();) {
            if (equalsNoCase(ini.sections_[i].first, ini.sections_[j].first)) {
                IniEntries& into = ini.sections_[i].second;
                IniEntries& from = ini.sections_[j].second;
                into.insert(into.end(), from.begin(), from.end());
                ini.sections_.erase(ini.sections_.begin() + static_cast<std::ptrdiff_t>(j));
            } else {
                ++j;
            }
        }
    }
    return ini;
}

const IniEntries* IniFile::section(const std::string& name) const
{
    for (const auto& section : sections_)
        if (equalsNoCase(section.first, name))
            return &section.second;
    return nullptr;
}

std::string IniFile::value(const std::string& sectionName, const std::string& key,
                           const std::string& fallback) const
{
    if (const IniEntries* entries = section(sectionName))
        for (const auto& entry : *entries)
            if (equalsNoCase(entry.first, key))
                return entry.second;
    return fallback;
}

int modelVerdict(const IniEntries* models, const std::string& systemId, int fallback)
{
    if (!models)
        return fallback;
    for (const auto& entry : *models)
        if (sameModel(entry.first, systemId))
            return toInt(entry.second, fallback);
    for (const auto& entry : *models)
        if (equalsNoCase(entry.first, "Default"))
            return toInt(entry.second, fallback);
    return fallback;
}

// ------------------------------------------------------------------ profile

int Profile::answer(const char* function, int computed) const
{
    for (const auto& entry : answers)
        if (equalsNoCase(entry.first, function))
            return toInt(entry.second, computed);
    return computed;
}

namespace {

// What a quiet profile keeps while the DLL is loaded. Calls come one at a
// time from the custom actions, but a test may call from several threads.
SRWLOCK quietLock = SRWLOCK_INIT;
bool quietProfileRead = false;
Profile quietProfile;
std::map<std::string, IniFile> quietRuleFiles;

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

Profile readProfile();

}  // namespace

Profile loadProfile()
{
    ExclusiveLock lock(quietLock);
    if (quietProfileRead)
        return quietProfile;
    Profile profile = readProfile();
    if (profile.quiet) {
        quietProfile = profile;
        quietProfileRead = true;
    }
    return profile;
}

IniFile ruleFile(const Profile& profile, const std::string& path)
{
    if (!profile.quiet)
        return IniFile::load(path);
    ExclusiveLock lock(quietLock);
    auto found = quietRuleFiles.find(path);
    if (found == quietRuleFiles.end())
        found = quietRuleFiles.emplace(path, IniFile::load(path)).first;
    return found->second;
}

namespace {

Profile readProfile()
{
    const std::string folder = moduleFolder();
    const IniFile ini = IniFile::load(joinPath(folder, "kvilsim.ini"));
    Profile profile;

    DWORD id = 0;
    if (parseHex(ini.value("Machine", "SystemId"), id))
        profile.systemId = id;
    profile.generation = toInt(ini.value("Machine", "Generation"), profile.generation);
    profile.vendor = ini.value("Machine", "Vendor", profile.vendor);
    profile.intelNic = toInt(ini.value("Machine", "IntelNIC"), profile.intelNic) != 0;
    profile.broadcomNic = toInt(ini.value("Machine", "BroadcomNIC"), profile.broadcomNic) != 0;
    profile.oldNode = toInt(ini.value("Machine", "OldNode"), profile.oldNode);
    profile.hardware = toInt(ini.value("Machine", "Hardware"), profile.hardware);
    if (const IniEntries* answers = ini.section("Answers"))
        profile.answers = *answers;

    std::string journalPath = ini.value("Simulator", "Journal");
    if (journalPath.empty())
        journalPath = "kvilsim-journal.txt";
    profile.journalPath = isAbsolutePath(journalPath) ? journalPath : joinPath(folder, journalPath);
    profile.quiet = toInt(ini.value("Simulator", "Quiet"), 0) != 0;
    return profile;
}

}  // namespace

// ------------------------------------------------------------------ journal

std::string quoted(const char* text)
{
    if (!text)
        return "NULL";
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            out += "\"\"";
        } else if (c < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "<%02X>", c);
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string number(long long value)
{
    return std::to_string(value);
}

std::string hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04lX", static_cast<unsigned long>(value));
    return text;
}

void journal(const Profile& profile, const char* name, std::initializer_list<std::string> args,
             const std::string& result, const std::string& note)
{
    if (profile.quiet)
        return;
    std::string line = name;
    line += '(';
    bool first = true;
    for (const std::string& arg : args) {
        if (!first)
            line += ", ";
        line += arg;
        first = false;
    }
    line += ')';
    if (!result.empty())
        line += " = " + result;
    if (!note.empty())
        line += " -- " + note;
    line += "\r\n";

    // One append per line, so that two processes writing at once (the
    // installer's custom-action server and a test) never interleave a line.
    Handle file(CreateFileA(profile.journalPath.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// ------------------------------------------------------------- installer log

Record& Record::set(unsigned field, const std::string& text)
{
    MsiRecordSetStringA(handle_, field, text.c_str());
    return *this;
}

Record& Record::set(unsigned field, int value)
{
    MsiRecordSetInteger(handle_, field, value);
    return *this;
}

void send(MSIHANDLE installer, INSTALLMESSAGE kind, const Record& record)
{
    if (installer != 0 && record.get() != 0)
        MsiProcessMessage(installer, kind, record.get());
}

void logLine(MSIHANDLE installer, const std::string& text, bool error)
{
    if (installer == 0)
        return;
    Record record(1);
    record.set(0, "[1]").set(1, text);
    send(installer, error ? INSTALLMESSAGE_ERROR : INSTALLMESSAGE_INFO, record);
}

// ---------------------------------------------------------------- processes

std::string failedCall(const char* call, DWORD error)
{
    char* buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string meaning = length ? std::string(buffer, length) : std::string("no text known");
    if (buffer)
        LocalFree(buffer);
    meaning = trim(meaning);
    return std::string(call) + " failed with error " + number(error) + " (" + meaning + ")";
}

bool startFailureIsTransient(DWORD error)
{
    // Wine reports a new process that ended before it had finished starting,
    // without an exit status of its own, as STATUS_INTERNAL_ERROR. On a busy
    // machine this happens to about one command interpreter in a few hundred
    // started from the custom-action server; the same command starts at once
    // when tried again. Windows gives this error for no such case.
    return error == ERROR_INTERNAL_ERROR;
}

namespace {

// One start of the program and the wait for its end.
RunOutcome startAndWait(const std::string& commandLine, const std::string& folder, bool show,
                        DWORD& startError)
{
    RunOutcome outcome;
    startError = 0;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show ? SW_SHOWNORMAL : SW_HIDE;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');  // CreateProcessA may write into its command line
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        startError = GetLastError();
        outcome.failure = failedCall("CreateProcessA", startError);
        return outcome;
    }
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
        outcome.failure = failedCall("WaitForSingleObject", GetLastError());
        return outcome;
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        outcome.failure = failedCall("GetExitCodeProcess", GetLastError());
        return outcome;
    }
    outcome.exitCode = static_cast<int>(exitCode);
    return outcome;
}

}  // namespace

RunOutcome runProgram(const std::string& commandLine, const std::string& folder, bool show)
{
    DWORD startError = 0;
    RunOutcome outcome = startAndWait(commandLine, folder, show, startError);
    if (startError != 0 && startFailureIsTransient(startError)) {
        const std::string first = outcome.failure;
        outcome = startAndWait(commandLine, folder, show, startError);
        outcome.retried = first;
    }
    return outcome;
}

RunOutcome runShellCommand(const std::string& command, const std::string& folder)
{
    std::string interpreter = environment("COMSPEC");
    if (interpreter.empty())
        interpreter = "cmd.exe";
    // /s with one pair of quotes around the command: the interpreter removes
    // exactly those and keeps every quote the command itself holds. /d skips
    // the AutoRun commands of the registry.
    return runProgram("\"" + interpreter + "\" /d /s /c \"" + command + "\"", folder, false);
}

int runCommands(MSIHANDLE installer, const IniEntries& commands, const Placeholders& placeholders,
                const std::string& folder, bool stopOnFailure, std::string* problems)
{
    auto explain = [&](const std::string& sentence) {
        logLine(installer, "KVIL64: " + sentence);
        if (problems)
            *problems += (problems->empty() ? "" : " ") + sentence;
    };
    int firstFailure = 0;
    for (const auto& entry : commands) {
        std::string command = entry.second;
        for (const auto& placeholder : placeholders)
            replaceAll(command, placeholder.first, placeholder.second);
        if (command.empty())
            continue;
        logLine(installer, "KVIL64: running command " + entry.first + ": " + command);
        const RunOutcome outcome = runShellCommand(command, folder);
        if (!outcome.retried.empty())
            explain("command " + entry.first + " started a second time: the first start's " +
                    outcome.retried + ".");
        if (!outcome.failure.empty())
            explain("command " + entry.first + " could not be run: " + outcome.failure + ".");
        const int exitCode = outcome.exitCode;
        logLine(installer, "KVIL64: command " + entry.first + " returned " + number(exitCode));
        if (exitCode != 0 && firstFailure == 0) {
            firstFailure = exitCode;
            if (stopOnFailure)
                break;
        }
    }
    return firstFailure;
}

// -------------------------------------------------------------------- misc

std::string text(const char* maybeNull)
{
    return maybeNull ? std::string(maybeNull) : std::string();
}

std::string moduleFolder()
{
    // Any address inside this DLL names the module; a data address keeps the
    // cast portable.
    static const char anchor = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            &anchor, &module))
        return std::string();
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool isAbsolutePath(const std::string& path)
{
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

bool isDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/')
        return folder + name;
    return folder + "\\" + name;
}

bool equalsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool sameModel(const std::string& a, const std::string& b)
{
    DWORD left = 0, right = 0;
    if (parseHex(a, left) && parseHex(b, right))
        return left == right;
    return equalsNoCase(trim(a), trim(b));
}

int toInt(const std::string& value, int fallback)
{
    const char* start = value.c_str();
    char* end = nullptr;
    long parsed = std::strtol(start, &end, 10);
    return end == start ? fallback : static_cast<int>(parsed);
}

}  // namespace kvilsim
