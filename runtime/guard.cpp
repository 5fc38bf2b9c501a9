#include "runtime/guard.h"

#include <windows.h>

#include <exception>
#include <string>
#include <vector>

namespace kvil {

namespace {

// The file version of the module these actions run in, from its own version
// resource ("9.1.0.0"): the log then says which build ran, whatever file name
// the package gave the DLL.
std::string readOwnFileVersion()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&readOwnFileVersion), &module))
        return "";
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return "";
    // VerQueryValue may write into the block it reads: it gets a copy.
    const BYTE* bytes = static_cast<const BYTE*>(data);
    std::vector<BYTE> block(bytes, bytes + SizeofResource(module, found));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) || !fixed ||
        size < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BD)
        return "";
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

}  // namespace

UINT guarded(const char* actionName, MSIHANDLE handle,
             const std::function<UINT(const Installer&)>& action)
{
    Installer installer(handle);
    try {
        // Read at each call: the DLL keeps nothing in memory between actions.
        const std::string version = readOwnFileVersion();
        installer.message(std::string(actionName) + ": KVILMSI64.dll " +
                          (version.empty() ? "(no version resource)" : version));
        return action(installer);
    } catch (const std::exception& error) {
        installer.message(std::string(actionName) + ": unexpected error: " + error.what(),
                          kMessageError);
    } catch (...) {
        installer.message(std::string(actionName) + ": unexpected error", kMessageError);
    }
    return ERROR_INSTALL_FAILURE;
}

}  // namespace kvil
