// caKVILCreateUpgradeRegKey and its rollback: the registry marker that tells
// readers outside this library that a major upgrade is in progress.
#include "runtime/guard.h"
#include "runtime/registry.h"

using namespace kvil;

namespace {
const char* const kMakerKey = "SOFTWARE\\Tavrin Computer Corporation";
const char* const kMarkerKey = "SOFTWARE\\Tavrin Computer Corporation\\Kevana\\Installer1100X";
}  // namespace

extern "C" UINT __stdcall caKVILCreateUpgradeRegKey(MSIHANDLE handle)
{
    return guarded("caKVILCreateUpgradeRegKey", handle, [](const Installer&) -> UINT {
        if (createRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Tavrin Computer Corporation") != 0 ||
            createRegistryKey(HKEY_LOCAL_MACHINE, kMakerKey, "Kevana") != 0 ||
            createRegistryKey(HKEY_LOCAL_MACHINE, kKevanaKey, "Installer1100X") != 0)
            return ERROR_INSTALL_FAILURE;
        if (writeRegistryValue(HKEY_LOCAL_MACHINE, kMarkerKey, "CP_MAJORUPGRADE", "YES", REG_SZ) != 0)
            return ERROR_INSTALL_FAILURE;
        return ERROR_SUCCESS;
    });
}

extern "C" UINT __stdcall caKVILCreateUpgradeRegKeyRollback(MSIHANDLE handle)
{
    return guarded("caKVILCreateUpgradeRegKeyRollback", handle, [](const Installer&) -> UINT {
        // RegDeleteKeyA leaves a key that still has subkeys: the parents go
        // only when no other product of the maker uses them.
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMarkerKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKevanaKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMakerKey);
        return ERROR_SUCCESS;
    });
}
