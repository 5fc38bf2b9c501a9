// caKVILCheckforMGMTINT: the server instrumentation alone cannot be managed,
// so a selection that installs it needs the web server (being installed or
// already there) or one of the management interfaces.
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/registry.h"

using namespace kvil;

namespace {

bool managementPresent(const Installer& installer)
{
    if (installer.featureBeingInstalled("IWS"))
        return true;
    if (registryKeyExists(HKEY_LOCAL_MACHINE, std::string(kApplicationsKey) + "\\IWS"))
        return true;
    for (const char* feature : {"CLI", "WMI", "RmtMgmt", "OSLOG", "SNMP"})
        if (installer.featureBeingInstalled(feature))
            return true;
    return false;
}

UINT checkForManagementInterface(const Installer& installer)
{
    if (!installer.featureBeingInstalled("SI") || managementPresent(installer))
        return ERROR_SUCCESS;
    localisedBox(installer, 2056, MB_ICONERROR);
    installer.setProperty("CP_NOMGMTINT", "YES");
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILCheckforMGMTINT(MSIHANDLE handle)
{
    return guarded("caKVILCheckforMGMTINT", handle, checkForManagementInterface);
}
