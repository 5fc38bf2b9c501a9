// Child processes. Command lines are passed exactly as the caller built them:
// nothing here adds quotes.
#pragma once

#include <windows.h>

#include <string>

namespace kvil {

// Fire and forget. True when the process was created.
bool startProcess(const std::string& commandLine, const char* workingFolder, bool showWindow);

// Waits without time limit. True when the process was created; `exitCode` is
// filled in only then.
bool runProcessAndWait(const std::string& commandLine, const char* workingFolder, bool showWindow,
                       DWORD& exitCode);

// Runs the line through the command interpreter named by COMSPEC and waits;
// returns the interpreter's exit status (-1 when it cannot be started).
int runShellCommand(const std::string& commandLine);

}  // namespace kvil
