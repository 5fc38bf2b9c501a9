// caKVILInstallPNPDrivers: hands the features being installed to the
// plug-and-play driver installer beside the vendor support library, with a
// progress text and the Cancel button hidden. Runs deferred, so every input
// is a stored value. Every failure ends the action quietly: the installation
// goes on without the drivers.
#include "install/pnp_drivers.h"

#include "qualify/feature_table.h"
#include "runtime/guard.h"
#include "runtime/localised.h"
#include "runtime/registry.h"
#include "runtime/shared_data.h"
#include "runtime/text.h"
#include "runtime/vendor_library.h"

namespace kvil {

std::string pnpFeatureList(const std::function<std::string(const char* key)>& storedState)
{
    std::string list;
    for (const FeatureRow& row : kFeatureTable)
        if (equalsNoCase(storedState(row.key), "INSTALL"))
            list += std::string(row.key) + ",";
    return list;
}

}  // namespace kvil

using namespace kvil;

namespace {

UINT installPnpDrivers(const Installer& installer)
{
    if (!registryKeyExists(HKEY_LOCAL_MACHINE, kSystemsManagementKey))
        return ERROR_SUCCESS;
    if (!sharedDataTrusted(installer) || equalsNoCase(storedValue("CP_MAJORUPGRADE"), "YES"))
        return ERROR_SUCCESS;
    const std::string installFolder = storedValue("INSTALLDIR");
    const std::string supportFolder = storedValue("SUPPORTDIR");

    noteMissingStoredValues(installer, supportFolder);
    // Declared in this order, the driver installer is freed first.
    VendorLibrary vendor(installer, supportFolder);
    if (vendor.refused())
        return ERROR_SUCCESS;
    VendorLibrary drivers(installer, supportFolder, "PNPDRVR32.DLL");
    auto installPnpDevices = drivers.function<InstallPNPDevicesFn>("InstallPNPDevices");
    if (!vendor.loaded() || !installPnpDevices)
        return ERROR_SUCCESS;

    const std::string features =
        pnpFeatureList([](const char* key) { return storedValue(key); });
    if (features.empty())
        return ERROR_SUCCESS;

    // The language is the stored one too: a deferred action cannot read
    // ProductLanguage.
    const std::string progressText =
        loadLocalisedStringForCode(installer, 2033, storedValue("ProductLanguage"));
    auto progress = vendor.function<UpdateProgressStatusMessageFn>("UpdateProgressStatusMessage");
    auto cancelButton = vendor.function<UpdateCancelButtonFn>("UpdateCancelButton");
    if (progress)
        progress(installer.handle(), progressText.c_str());
    if (cancelButton)
        cancelButton(installer.handle(), TRUE);
    installer.message("Waiting for InstallPNPDevices of features " + features);
    installPnpDevices(supportFolder.c_str(), installFolder.c_str(), features.c_str());
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILInstallPNPDrivers(MSIHANDLE handle)
{
    return guarded("caKVILInstallPNPDrivers", handle, installPnpDrivers);
}
