#include "runtime/process.h"

#include "runtime/environment.h"
#include "runtime/handles.h"

#include <vector>

namespace kvil {

namespace {

// Creates the process; on success the caller owns both handles.
bool createProcess(const std::string& commandLine, const char* workingFolder, bool showWindow,
                   KernelHandle& process, KernelHandle& thread)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!showWindow) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    // CreateProcessA may write into the command line buffer.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, workingFolder,
                        &startup, &info))
        return false;
    process.reset(info.hProcess);
    thread.reset(info.hThread);
    return true;
}

}  // namespace

bool startProcess(const std::string& commandLine, const char* workingFolder, bool showWindow)
{
    KernelHandle process;
    KernelHandle thread;
    return createProcess(commandLine, workingFolder, showWindow, process, thread);
}

bool runProcessAndWait(const std::string& commandLine, const char* workingFolder, bool showWindow,
                       DWORD& exitCode)
{
    KernelHandle process;
    KernelHandle thread;
    if (!createProcess(commandLine, workingFolder, showWindow, process, thread))
        return false;
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &exitCode);
    return true;
}

int runShellCommand(const std::string& commandLine)
{
    std::string interpreter = environmentVariable("COMSPEC");
    if (interpreter.empty())
        interpreter = "cmd.exe";
    DWORD exitCode = 0;
    if (!runProcessAndWait("\"" + interpreter + "\" /c " + commandLine, nullptr, false, exitCode))
        return -1;
    return static_cast<int>(exitCode);
}

}  // namespace kvil
