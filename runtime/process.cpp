#include "runtime/process.h"

#include "runtime/environment.h"
#include "runtime/handles.h"
#include "runtime/installer.h"
#include "runtime/pause.h"

#include <string>

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
    std::string line = commandLine;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, workingFolder,
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
                       DWORD& exitCode, const Installer* installer)
{
    KernelHandle process;
    KernelHandle thread;
    if (!createProcess(commandLine, workingFolder, showWindow, process, thread))
        return false;
    for (unsigned minutes = 1;
         WaitForSingleObject(process.get(), pauseLength(60000)) == WAIT_TIMEOUT; ++minutes) {
        if (installer)
            installer->message("Still waiting for " + commandLine + ", " +
                               std::to_string(minutes) + " minutes.");
    }
    GetExitCodeProcess(process.get(), &exitCode);
    return true;
}

int runShellCommand(const std::string& commandLine, const Installer* installer)
{
    std::string interpreter = environmentVariable("COMSPEC");
    if (interpreter.empty())
        interpreter = "cmd.exe";
    DWORD exitCode = 0;
    if (!runProcessAndWait("\"" + interpreter + "\" /c " + commandLine, nullptr, false, exitCode,
                           installer))
        return -1;
    return static_cast<int>(exitCode);
}

}  // namespace kvil
