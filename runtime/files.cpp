#include "runtime/files.h"

#include "runtime/handles.h"
#include "runtime/installer.h"

#include <direct.h>
#include <windows.h>

#include <cstdio>

namespace kvil {

namespace {

bool findAttributes(const std::string& path, DWORD& attributes)
{
    WIN32_FIND_DATAA data;
    FindHandle find(FindFirstFileA(path.c_str(), &data));
    if (!find)
        return false;
    attributes = data.dwFileAttributes;
    return true;
}

// A junction, symbolic link or mount point. Anyone who could create a folder
// where a clean-up runs could have made it, so what it points to is none of
// the clean-up's business.
bool isLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes the link itself, never its target: RemoveDirectoryA for a folder
// link, DeleteFileA for a file link. Attributes are left alone, since setting
// them through a link would change the target's. A failure is not reported.
void removeLink(const std::string& path, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryA(path.c_str());
    else
        DeleteFileA(path.c_str());
}

// A file with other names (hard links) shares its attributes with them: the
// read-only flag of a file elsewhere must not be cleared through a name here.
bool hasOtherNames(const std::string& path)
{
    KernelHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    return file && GetFileInformationByHandle(file.get(), &information) &&
           information.nNumberOfLinks > 1;
}

// GetFileAttributesA reports a link's own attributes, not its target's.
DWORD ownAttributes(std::string path)
{
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return GetFileAttributesA(path.c_str());
}

bool markerAtWindowsDriveRoot(const char* marker)
{
    std::string windows = windowsDirectory();
    if (windows.size() <= 2)
        return false;
    return pathIsFile(windows.substr(0, 2) + marker);
}

}  // namespace

std::string readToEnd(HANDLE file)
{
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        content.append(chunk, read);
    return content;
}

bool pathIsDirectory(const std::string& path)
{
    DWORD attributes = 0;
    return findAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool pathIsFile(const std::string& path)
{
    DWORD attributes = 0;
    return findAttributes(path, attributes) && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool removeDirectoryTree(const std::string& folder, bool recurse)
{
    if (folder.empty())
        return true;
    const DWORD folderAttributes = ownAttributes(folder);
    if (isLink(folderAttributes)) {
        removeLink(folder, folderAttributes);
    } else {
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA((folder + "\\*.*").c_str(), &entry));
        if (!find)
            return true;
        // The first entry is the folder's own "." entry.
        while (FindNextFileA(find.get(), &entry)) {
            const std::string name = entry.cFileName;
            const std::string path = folder + "\\" + name;
            const bool subfolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            if (subfolder && !(recurse && name != "." && name != ".."))
                continue;
            if (isLink(entry.dwFileAttributes)) {
                removeLink(path, entry.dwFileAttributes);
            } else if (subfolder) {
                removeDirectoryTree(path, true);
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                RemoveDirectoryA(path.c_str());
            } else {
                if (!hasOtherNames(path))
                    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        }
        find.reset();
        SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryA(folder.c_str());
    }
    WIN32_FIND_DATAA left;
    FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &left));
    return !find;
}

void removeAtRestart(const std::string& path)
{
    if (pathIsFile(path) || pathIsDirectory(path))
        MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool copyFileWithLog(const Installer& installer, const std::string& source,
                     const std::string& target)
{
    const DWORD error = copyOver(source, target);
    if (error == 0)
        installer.message("File copied successful for file: " + target);
    else
        installer.message("File copied failed for file: " + source);
    SetLastError(error);
    return error == 0;
}

DWORD copyOver(const std::string& source, const std::string& target)
{
    if (CopyFileA(source.c_str(), target.c_str(), FALSE))
        return 0;
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

DWORD writeWholeFile(const std::string& path, const std::string& content, DWORD creation,
                     DWORD shareMode)
{
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, shareMode, nullptr, creation,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return GetLastError();
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) ||
        written != content.size() || !FlushFileBuffers(file.get()))
        error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    if (!CloseHandle(file.release()) && error == 0)
        error = GetLastError();
    if (error)
        DeleteFileA(path.c_str());
    return error;
}

std::string systemMessage(DWORD error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length && text ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

std::string couldNotStage(const std::string& source, DWORD error)
{
    return "Could not stage " + source + ": " + systemMessage(error);
}

std::string couldNotWrite(const std::string& path, DWORD error)
{
    return "Could not write " + path + ": " + systemMessage(error);
}

bool directoryIsWritable(const std::string& folder)
{
    if (!pathIsDirectory(folder))
        return _mkdir(folder.c_str()) == 0;
    const std::string probe = folder + "\\kvcheck.txt";
    bool written = false;
    if (FILE* file = std::fopen(probe.c_str(), "w")) {
        written = std::fputs("check\n", file) >= 0;
        written = (std::fclose(file) == 0) && written;
    }
    if (!written) {
        KernelHandle created(CreateFileA(probe.c_str(), 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!pathIsFile(probe))
        return false;
    return DeleteFileA(probe.c_str()) != FALSE;
}

std::string windowsDirectory()
{
    char buffer[1024] = {};
    GetSystemWindowsDirectoryA(buffer, sizeof(buffer));
    return buffer;
}

bool osCheckSuppressed()
{
    return markerAtWindowsDriveRoot("\\nooscheck.txt");
}

bool systemCheckSuppressed()
{
    return markerAtWindowsDriveRoot("\\nosystemcheck.txt");
}

}  // namespace kvil
