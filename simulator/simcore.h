// Shared pieces of the simulated vendor support library and of the simulated
// plug-and-play driver installer: reading their ini files, the machine
// profile, the call journal, installer messages and child processes.
//
// Nothing here is cached: every exported call reads its files afresh, because
// the custom actions load and free the library around every action. The one
// exception is the quiet mode of a profile ([Simulator] Quiet=1), meant for
// measuring the custom actions: no journal, and the profile and rule files
// read once while the DLL stays loaded.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace kvilsim {

// ---------------------------------------------------------------- ini files

using IniEntries = std::vector<std::pair<std::string, std::string>>;

// A small ini reader of our own instead of GetPrivateProfileString: command
// lines keep their quotes, entries keep their order, and Windows and Wine read
// a file the same way. Section and key names are compared without regard to
// letter case; lines starting with ';' or '#' are comments.
class IniFile {
public:
    // An unreadable file gives an IniFile whose exists() is false.
    static IniFile load(const std::string& path);

    bool exists() const { return exists_; }
    // Entries of every section of that name, in file order; null when absent.
    const IniEntries* section(const std::string& name) const;
    // The first value of the key, or the fallback when the key is absent.
    std::string value(const std::string& section, const std::string& key,
                      const std::string& fallback = std::string()) const;

private:
    bool exists_ = false;
    std::vector<std::pair<std::string, IniEntries>> sections_;
};

// The verdict that a model list (a section of model = number entries) gives
// the model: its own entry, else the entry "Default", else the fallback.
int modelVerdict(const IniEntries* models, const std::string& systemId, int fallback);

// ------------------------------------------------------------------ profile

// The simulated machine, read from kvilsim.ini beside the DLL. The defaults
// describe a supported 14th-generation server of the maker with both cards.
struct Profile {
    DWORD systemId = 0x08FC;
    int generation = 14;
    std::string vendor = "Tavrin Inc.";
    bool intelNic = true;
    bool broadcomNic = true;
    int oldNode = 0;
    int hardware = 1;
    std::string journalPath;  // absolute
    bool quiet = false;       // [Simulator] Quiet: no journal, files read once per load
    IniEntries answers;       // [Answers]: forced results of the probes

    // The [Answers] value for the function when given, else the computed one.
    int answer(const char* function, int computed) const;
};

// The profile beside the DLL; a quiet profile is read on the first call
// after the DLL was loaded and kept until it is freed.
Profile loadProfile();

// A rule file (hardware list, filter-driver list) named by the caller: read
// afresh, or with a quiet profile once per path while the DLL stays loaded.
IniFile ruleFile(const Profile& profile, const std::string& path);

// ------------------------------------------------------------------ journal

// Journal notation of arguments and results: quoted text ("" for a quote
// inside, <0A> for a control character), NULL for a null pointer, decimal
// numbers, 0x-hexadecimal model numbers.
std::string quoted(const char* text);
std::string number(long long value);
std::string hex(DWORD value);

// Appends the line `name(arg, arg, ...)`, followed by " = result" when a
// result is given and by " -- note" when a note is given (why a program
// could not be run). A quiet profile writes nothing.
void journal(const Profile& profile, const char* name, std::initializer_list<std::string> args,
             const std::string& result = std::string(), const std::string& note = std::string());

// ------------------------------------------------------------- installer log

// An installer record, closed when it goes out of scope: a leaked record
// handle fails the action on Windows.
class Record {
public:
    explicit Record(unsigned fields) : handle_(MsiCreateRecord(fields)) {}
    ~Record() { if (handle_) MsiCloseHandle(handle_); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    Record& set(unsigned field, const std::string& text);
    Record& set(unsigned field, int value);
    MSIHANDLE get() const { return handle_; }

private:
    MSIHANDLE handle_;
};

// Sends the record to the installer; a handle of 0 sends nothing.
void send(MSIHANDLE installer, INSTALLMESSAGE kind, const Record& record);
// A plain line in the installer log: template "[1]", the text in field 1.
void logLine(MSIHANDLE installer, const std::string& text, bool error = false);

// ---------------------------------------------------------------- processes

// What became of a program: its exit code, or -1 with the Windows call that
// failed, e.g. "CreateProcessA failed with error 2 (The system cannot find
// the file specified.)", and whether the start needed its one retry.
struct RunOutcome {
    int exitCode = -1;
    std::string failure;  // empty when the exit code was read
    std::string retried;  // the first start's failure when it was retried
};

// "CALL failed with error N (meaning)", from GetLastError's value.
std::string failedCall(const char* call, DWORD error);

// Whether a start that failed with this error is worth its one retry: Wine
// fails CreateProcess with it when the new process dies while it starts,
// which a second start does not meet.
bool startFailureIsTransient(DWORD error);

// Starts the command line in that working folder (empty: the caller's) and
// waits for it. A start that fails transiently is retried once.
RunOutcome runProgram(const std::string& commandLine, const std::string& folder, bool show);

// Runs a command through the command interpreter named by COMSPEC, hidden.
RunOutcome runShellCommand(const std::string& command, const std::string& folder);

using Placeholders = std::vector<std::pair<std::string, std::string>>;

// Runs the commands (the values of the entries, in order) with their
// placeholders replaced, each logged to the installer. Returns 0 when all
// succeeded, else the first non-zero exit code; with stopOnFailure the
// commands after a failing one are not run. A command that could not be run,
// or needed a second start, is explained in the installer log and in
// `problems` (when given), one sentence per command.
int runCommands(MSIHANDLE installer, const IniEntries& commands, const Placeholders& placeholders,
                const std::string& folder, bool stopOnFailure,
                std::string* problems = nullptr);

// -------------------------------------------------------------------- misc

std::string text(const char* maybeNull);   // "" for a null pointer
std::string moduleFolder();                 // folder of the DLL holding this code
bool isAbsolutePath(const std::string& path);  // drive, root or UNC path
bool isDirectory(const std::string& path);
std::string joinPath(const std::string& folder, const std::string& name);
bool equalsNoCase(const std::string& a, const std::string& b);
// Model identifiers match as hexadecimal numbers ("8FC" is "08FC"); anything
// that is not hexadecimal matches as text without regard to letter case.
bool sameModel(const std::string& a, const std::string& b);
// Leading decimal integer, or the fallback when there is none.
int toInt(const std::string& value, int fallback);

// Runs the body and stops every exception there: the callers are plain C.
template <typename Result, typename Body>
Result shielded(Result onFailure, Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        return onFailure;
    }
}

template <typename Body>
void shielded(Body body) noexcept
{
    try {
        body();
    } catch (...) {
    }
}

}  // namespace kvilsim
