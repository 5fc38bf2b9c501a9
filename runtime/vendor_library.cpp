#include "runtime/vendor_library.h"

#include "runtime/files.h"
#include "runtime/message_box.h"
#include "runtime/trust.h"

namespace kvil {

namespace {

// "C:\..." or "\\server\...": anything else resolves against the current
// drive or folder.
bool isAbsolutePath(const std::string& path)
{
    bool drive = path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) &&
                 path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    bool unc = path.size() >= 3 && path[0] == '\\' && path[1] == '\\';
    return drive || unc;
}

}  // namespace

VendorLibrary::VendorLibrary(const Installer& installer, const std::string& supportFolder,
                             const char* fileName, const std::vector<const char*>& supportFiles)
    : installer_(installer), path_(supportFolder + "\\" + fileName)
{
    if (!isAbsolutePath(supportFolder))
        return;
    refused_ = !trusted(installer, supportFolder);
    for (const char* name : supportFiles)
        refused_ = refused_ || !trusted(installer, supportFolder + "\\" + name);
    if (refused_)
        return;
    KernelHandle file(CreateFileA(path_.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file) {
        const std::string reason = distrustReason(path_, file.get());
        if (!reason.empty()) {
            logNotTrusted(installer, path_, reason);
            refused_ = true;
            return;
        }
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
        // Present but not to be opened without write sharing (another program
        // holds it open for writing): it could change after any check.
        logNotTrusted(installer, path_, "not to be checked: " + systemMessage(GetLastError()));
        refused_ = true;
        return;
    }
    // The library's own dependencies come from its folder and the system
    // folder only. Systems without the restricted search (ERROR_INVALID_PARAMETER)
    // get the nearest thing: its folder first instead of the installer's.
    module_.reset(LoadLibraryExA(path_.c_str(), nullptr,
                                 LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module_ && GetLastError() == ERROR_INVALID_PARAMETER)
        module_.reset(LoadLibraryExA(path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void VendorLibrary::reportLoadFailure(const char* actionName, UINT style) const
{
    const std::string text = "Failed to load library " + path_;
    installer_.message(std::string(actionName) + ": " + text);
    errorBox(installer_, actionName, text, style);
}

void VendorLibrary::reportMissingFunction(const char* actionName, const char* functionName) const
{
    const std::string text = std::string("Failed to get address for function ") + functionName;
    installer_.message(std::string(actionName) + ": " + text);
    errorBox(installer_, actionName, text, MB_ICONERROR);
}

}  // namespace kvil
