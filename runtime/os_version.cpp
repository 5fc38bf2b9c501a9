#include "runtime/os_version.h"

#include <windows.h>

namespace kvil {

namespace {

bool extendedVersion(OSVERSIONINFOEXA& info)
{
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // GetVersionExA is what the checks are defined on
#endif
    return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != FALSE;
}

FARPROC kernel32Function(const char* name)
{
    HMODULE kernel32 = GetModuleHandleA("kernel32");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

}  // namespace

bool osIsWorkstation()
{
    OSVERSIONINFOEXA info;
    return extendedVersion(info) && info.wProductType == VER_NT_WORKSTATION;
}

bool osIsCoreOrHypervisor()
{
    OSVERSIONINFOEXA info;
    extendedVersion(info);
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT || info.dwMajorVersion != 6)
        return false;
    using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
    auto getProductInfo = reinterpret_cast<GetProductInfoFn>(kernel32Function("GetProductInfo"));
    if (!getProductInfo)
        return false;
    DWORD productType = 0;
    getProductInfo(6, 0, 0, 0, &productType);
    return productType == 12 || productType == 13 || productType == 14 || productType == 42;
}

bool runningUnderWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(kernel32Function("IsWow64Process"));
    if (!isWow64Process)
        return false;
    BOOL wow64 = FALSE;
    return isWow64Process(GetCurrentProcess(), &wow64) && wow64 == TRUE;
}

}  // namespace kvil
