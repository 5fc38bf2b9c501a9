#include "runtime/shared_data.h"

#include "runtime/environment.h"
#include "runtime/files.h"
#include "runtime/handles.h"
#include "runtime/installer.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/trust.h"

#include <windows.h>

namespace kvil {

namespace {

// The whole file, shared for reading and writing with others; empty when it
// cannot be opened.
std::string readWholeFile(const std::string& path)
{
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? readToEnd(file.get()) : std::string();
}

// The folder first: its owner could swap the file at any time. Sets `path` to
// what is not trusted.
std::string sharedDataDistrust(std::string& path)
{
    path = sharedDataFilePath();
    const std::string folder = path.substr(0, path.find_last_of('\\'));
    std::string reason = distrustReason(folder);
    if (!reason.empty())
        path = folder;
    else
        reason = distrustReason(path);
    return reason;
}

}  // namespace

std::string sharedDataFilePath()
{
    std::string drive = environmentVariable("SYSTEMDRIVE");
    std::string folder = drive.empty() ? std::string() : drive + "\\tempini";
    CreateDirectoryA(folder.c_str(), nullptr);
    startProcess("attrib +H " + folder, nullptr, false);
    std::string path = folder + "\\" + "kvil100.txt";
    startProcess("cacls " + path + " /E /R Users", nullptr, false);
    return path;
}

std::string findStoredValue(const std::string& fileText, const std::string& name)
{
    const std::string key = name + "=";
    size_t lineStart = 0;
    while (lineStart < fileText.size()) {
        size_t lineEnd = fileText.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = fileText.size();
        std::string line = fileText.substr(lineStart, lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > key.size() && startsWith(line, key))
            return line.substr(key.size());
        lineStart = lineEnd + 1;
    }
    return std::string();
}

std::string storedValue(const std::string& name)
{
    std::string path;
    if (!sharedDataDistrust(path).empty())
        return std::string();
    return findStoredValue(readWholeFile(path), name);
}

bool sharedDataTrusted(const Installer& installer)
{
    std::string path;
    const std::string reason = sharedDataDistrust(path);
    if (reason.empty())
        return true;
    logNotTrusted(installer, path, reason);
    return false;
}

void noteMissingStoredValues(const Installer& installer, const std::string& storedSupportFolder)
{
    if (storedSupportFolder.empty())
        installer.message("The stored values are missing: " + sharedDataFilePath() +
                          " holds no SUPPORTDIR.");
}

std::string sharedDataCopyPath()
{
    return environmentVariable("TEMP") + "\\kvil100.txt";
}

}  // namespace kvil
