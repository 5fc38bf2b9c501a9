// Runs a command line the way a deployment service does: on a window station
// that no user sees (no WSF_VISIBLE), so that a message box there would never
// be answered. Waits for the command and exits with its exit code.
//   kvilinvisible.exe COMMAND LINE...
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The command line after this program's own name.
std::string commandAfterProgram()
{
    const char* line = GetCommandLineA();
    if (*line == '"') {
        line = strchr(line + 1, '"');
        line = line ? line + 1 : "";
    } else {
        while (*line && *line != ' ')
            ++line;
    }
    while (*line == ' ')
        ++line;
    return line;
}

}  // namespace

int main()
{
    std::string command = commandAfterProgram();
    HWINSTA station = CreateWindowStationA("kvilinvisible", 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station || !SetProcessWindowStation(station)) {
        fprintf(stderr, "kvilinvisible: no window station (error %lu)\n", GetLastError());
        return 100;
    }
    HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop) {
        fprintf(stderr, "kvilinvisible: no desktop (error %lu)\n", GetLastError());
        return 101;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    char desktopName[] = "kvilinvisible\\Default";
    startup.lpDesktop = desktopName;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fprintf(stderr, "kvilinvisible: cannot start %s (error %lu)\n", command.c_str(),
                GetLastError());
        return 102;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseDesktop(desktop);
    CloseWindowStation(station);
    return static_cast<int>(code);
}
