#include "runtime/files.h"

#include "runtime/handles.h"
#include "runtime/installer.h"

#include <direct.h>
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <vector>

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

// GetFileAttributesA reports a link's own attributes, not its target's.
DWORD ownAttributes(std::string path)
{
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return GetFileAttributesA(path.c_str());
}

// The tree removal walks by handles: each folder is opened once, listed
// through its handle, and each entry opened relative to it. A folder swapped
// for a link after it was listed is then never entered, wherever in the walk
// the swap happens.
const DWORD kTreeAccess = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                          FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

struct ListedEntry {
    std::wstring name;
    LARGE_INTEGER id;
    DWORD attributes;
};

std::vector<ListedEntry> listEntries(HANDLE folder)
{
    std::vector<ListedEntry> entries;
    std::vector<unsigned char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size()))) {
        kind = FileIdBothDirectoryInfo;
        size_t at = 0;
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(&buffer[at]);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({name, entry->FileId, entry->FileAttributes});
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    return entries;
}

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

// The entry `name` of the open folder, itself and not what it may point to.
KernelHandle openInFolder(HANDLE folder, const std::wstring& name, bool directory)
{
    const auto ntCreateFile = reinterpret_cast<NtCreateFileFn>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateFile"));
    const ULONG kOpen = 1;                      // FILE_OPEN
    const ULONG kDirectory = 0x1;               // FILE_DIRECTORY_FILE
    const ULONG kSynchronous = 0x20;            // FILE_SYNCHRONOUS_IO_NONALERT
    const ULONG kNotDirectory = 0x40;           // FILE_NON_DIRECTORY_FILE
    const ULONG kBackupIntent = 0x4000;         // FILE_OPEN_FOR_BACKUP_INTENT
    const ULONG kOpenReparsePoint = 0x200000;   // FILE_OPEN_REPARSE_POINT
    HANDLE opened = nullptr;
    if (!ntCreateFile)
        return KernelHandle();
    UNICODE_STRING unicodeName;
    unicodeName.Buffer = const_cast<wchar_t*>(name.c_str());
    unicodeName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    unicodeName.MaximumLength = unicodeName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status;
    const LONG result = ntCreateFile(
        &opened, kTreeAccess, &attributes, &status, nullptr, 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpen,
        (directory ? kDirectory : kNotDirectory) | kSynchronous | kBackupIntent |
            kOpenReparsePoint,
        nullptr, 0);
    return KernelHandle(result >= 0 ? opened : nullptr);
}

// Deleted when the handle closes. A read-only entry loses its read-only flag
// first, unless it has other names (hard links) that share its attributes.
void deleteThrough(HANDLE entry, const BY_HANDLE_FILE_INFORMATION& information)
{
    if (information.nNumberOfLinks <= 1 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof(basic));
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof(disposition));
}

// Deletes the open folder's files and, when `recurse`, its subfolders. An
// entry that opens as a link, or as another file than the one listed (it was
// swapped meanwhile; Wine opens a Unix link's target), is neither entered nor
// deleted.
void emptyFolder(HANDLE folder, bool recurse)
{
    for (const ListedEntry& listed : listEntries(folder)) {
        const bool subfolder = listed.attributes & FILE_ATTRIBUTE_DIRECTORY;
        if ((subfolder && !recurse) || isLink(listed.attributes))
            continue;
        KernelHandle entry = openInFolder(folder, listed.name, subfolder);
        BY_HANDLE_FILE_INFORMATION information;
        if (!entry || !GetFileInformationByHandle(entry.get(), &information) ||
            isLink(information.dwFileAttributes) ||
            information.nFileIndexHigh != static_cast<DWORD>(listed.id.HighPart) ||
            information.nFileIndexLow != listed.id.LowPart)
            continue;
        if (subfolder)
            emptyFolder(entry.get(), true);
        deleteThrough(entry.get(), information);
    }
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
        KernelHandle root(CreateFileA(folder.c_str(), kTreeAccess,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
        BY_HANDLE_FILE_INFORMATION information;
        if (!root || !GetFileInformationByHandle(root.get(), &information))
            return true;
        if (!isLink(information.dwFileAttributes) &&
            (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            emptyFolder(root.get(), recurse);
            deleteThrough(root.get(), information);
        }
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
    // The probe is always a new file of its own name, gone when closed: an
    // existing name (perhaps a second name of another file) is never opened.
    for (DWORD attempt = 0; attempt < 16; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof(name), "\\kvcheck-%lx-%lx-%lx.tmp", GetCurrentProcessId(),
                      GetTickCount(), attempt);
        KernelHandle probe(CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                       nullptr));
        if (!probe) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return false;
        }
        DWORD written = 0;
        return WriteFile(probe.get(), "check\r\n", 7, &written, nullptr) && written == 7;
    }
    return false;
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
