// Child processes. Command lines are passed exactly as the caller built them:
// nothing here adds quotes.
#pragma once

#include <windows.h>

#include <string>

namespace kvil {

class Installer;

// Fire and forget. True when the process was created.
bool startProcess(const std::string& commandLine, const char* workingFolder, bool showWindow);

// Waits without time limit, in steps of a minute: after each, the installer
// log (when an installer is given) reads "Still waiting for <command line>,
// <N> minutes.", so that a stuck program shows. Nothing cuts the wait short:
// a deployment tool's own time limit ends a stuck run. True when the process
// was created; `exitCode` is filled in only then.
bool runProcessAndWait(const std::string& commandLine, const char* workingFolder, bool showWindow,
                       DWORD& exitCode, const Installer* installer = nullptr);

// Runs the line through the command interpreter named by COMSPEC and waits
// as above; returns the interpreter's exit status (-1 when it cannot be
// started).
int runShellCommand(const std::string& commandLine, const Installer* installer = nullptr);

}  // namespace kvil
