// Links for the tests, made and removed with the Unix tools: Wine 8 cannot
// make a reparse point itself (CreateSymbolicLinkA makes nothing), and
// RemoveDirectoryA on a link to an empty folder removes that folder.
#include "harness/harness.h"

#include "runtime/trust.h"

#include <vector>

namespace test {

std::string unixPath(const std::string& path)
{
    using UnixFileName = char*(__cdecl*)(const wchar_t*);
    auto toUnix = reinterpret_cast<UnixFileName>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!toUnix)
        return std::string();
    std::vector<wchar_t> wide(path.size() + 1);
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    char* name = toUnix(wide.data());
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Wine reports no exit code for a Unix program: the caller checks the effect.
void runUnix(std::string commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

namespace {

template <typename Condition>
bool waitFor(Condition condition)
{
    for (int i = 0; i < 100; ++i) {
        if (condition())
            return true;
        Sleep(20);
    }
    return condition();
}

bool isLink(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

PlantedLink::PlantedLink(const std::string& link, const std::string& target) : link_(link)
{
    // ln would put a new link inside an existing folder link.
    if (exists(link))
        return;
    runUnix("/bin/ln -s \"" + unixPath(target) + "\" \"" + unixPath(link) + "\"");
    made_ = waitFor([&] { return isLink(link); });
}

PlantedLink::~PlantedLink()
{
    removeLink(link_);
}

void removeLink(const std::string& link)
{
    runUnix("/bin/rm -f \"" + unixPath(link) + "\"");
    waitFor([&] { return !exists(link); });
}

bool makeHardLink(const std::string& name, const std::string& file)
{
    runUnix("/bin/ln \"" + unixPath(file) + "\" \"" + unixPath(name) + "\"");
    return waitFor([&] { return exists(name); });
}

bool giveToNobody(const std::string& path)
{
    runUnix("/bin/chown nobody \"" + unixPath(path) + "\"");
    return waitFor([&] { return !kvil::distrustReason(path).empty(); });
}

bool makeWorldWritable(const std::string& path)
{
    runUnix("/bin/chmod o+w \"" + unixPath(path) + "\"");
    return waitFor([&] { return !kvil::distrustReason(path).empty(); });
}

FolderSwapper::FolderSwapper(const std::string& folder, const std::string& target)
    : stop_(folder + ".stop")
{
    const size_t separator = folder.find_last_of('\\');
    const std::string f = unixPath(folder.substr(0, separator)) + "/" + folder.substr(separator + 1);
    std::string commandLine = "/bin/sh -c \"while [ ! -e '" + f + ".stop' ]; do mv '" + f +
                              "' '" + f + ".moved'; ln -s '" + unixPath(target) + "' '" + f +
                              "'; rm -f '" + f + "'; mv '" + f + ".moved' '" + f +
                              "'; done 2>/dev/null; touch '" + f + ".done'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        CloseHandle(process.hThread);
        process_ = process.hProcess;
    }
}

FolderSwapper::~FolderSwapper()
{
    writeFile(stop_, "stop");
    if (process_) {
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
    }
    // Wine reports no exit of a Unix program: the loop says itself when its
    // last turn is over, however slowly a busy machine runs it.
    const std::string done = stop_.substr(0, stop_.size() - 5) + ".done";
    waitFor([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; });
    DeleteFileA(done.c_str());
    DeleteFileA(stop_.c_str());
}

}  // namespace test

namespace test {

HeldOpen::HeldOpen(const std::string& path, const std::string& content)
{
    writeFile(path, content);
    handle_ = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, handle_) << path;
}

HeldOpen::~HeldOpen()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
}

FullDisk::FullDisk(const std::string& folder) : folder_(folder)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string mountPoint = unixPath(folder);
    runUnix("/bin/mount -t tmpfs -o size=64k kviltest \"" + mountPoint + "\"");
    // Wine shows a mount point as a reparse point.
    mounted_ = waitFor([&] { return isLink(folder); });
    if (!mounted_)
        return;
    runUnix("/bin/dd if=/dev/zero of=\"" + mountPoint + "/filler\" bs=4096");
    // Full once a page more cannot be written (the filler may still be growing).
    const std::string probe = folder + "\\probe";
    full_ = waitFor([&] {
        HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        const std::string page(4096, 'x');
        DWORD written = 0;
        const bool refused =
            file != INVALID_HANDLE_VALUE &&
            !WriteFile(file, page.data(), static_cast<DWORD>(page.size()), &written, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        DeleteFileA(probe.c_str());
        return refused;
    });
}

FullDisk::~FullDisk()
{
    if (mounted_)
        runUnix("/bin/umount -l \"" + unixPath(folder_) + "\"");
    waitFor([&] { return !isLink(folder_); });
}

}  // namespace test
