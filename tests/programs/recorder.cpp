// Stand-in for a Windows tool in tests. Appends "<program name>|<command line>"
// to the file named by KVIL_RECORDER_LOG (beside itself when unset) and exits
// with KVIL_RECORDER_EXIT_<PROGRAM> or KVIL_RECORDER_EXIT (0 when unset),
// after sleeping KVIL_RECORDER_SLEEP_<PROGRAM> milliseconds (a program that
// takes long).
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

static std::string variable(const std::string& name)
{
    char buffer[4096] = {};
    DWORD length = GetEnvironmentVariableA(name.c_str(), buffer, sizeof(buffer));
    return length > 0 && length < sizeof(buffer) ? std::string(buffer, length) : std::string();
}

int main()
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    std::string folder = path.substr(0, path.find_last_of('\\'));
    std::string program = path.substr(path.find_last_of('\\') + 1);
    program = program.substr(0, program.find_last_of('.'));
    std::string upper;
    for (char c : program)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    std::string log = variable("KVIL_RECORDER_LOG");
    if (log.empty())
        log = folder + "\\recorder.log";
    if (FILE* file = std::fopen(log.c_str(), "ab")) {
        std::fprintf(file, "%s|%s\r\n", program.c_str(), GetCommandLineA());
        std::fclose(file);
    }

    Sleep(std::strtoul(variable("KVIL_RECORDER_SLEEP_" + upper).c_str(), nullptr, 0));
    std::string code = variable("KVIL_RECORDER_EXIT_" + upper);
    if (code.empty())
        code = variable("KVIL_RECORDER_EXIT");
    ExitProcess(static_cast<UINT>(std::strtoul(code.c_str(), nullptr, 0)));
}
