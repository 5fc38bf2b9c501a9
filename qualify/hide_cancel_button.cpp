// caKVILHideCancelButton: asks the vendor support library to hide the
// installer's Cancel button. Runs where properties cannot be read, so the
// support folder comes from the shared data file. Never fails.
#include "runtime/guard.h"
#include "runtime/shared_data.h"
#include "runtime/vendor_library.h"

using namespace kvil;

extern "C" UINT __stdcall caKVILHideCancelButton(MSIHANDLE handle)
{
    return guarded("caKVILHideCancelButton", handle, [](const Installer& installer) -> UINT {
        const bool sharedTrusted = sharedDataTrusted(installer);
        const std::string supportFolder = storedValue("SUPPORTDIR");
        if (sharedTrusted)
            noteMissingStoredValues(installer, supportFolder);
        VendorLibrary library(installer, supportFolder);
        if (auto updateCancelButton = library.function<UpdateCancelButtonFn>("UpdateCancelButton"))
            updateCancelButton(installer.handle(), TRUE);
        return ERROR_SUCCESS;
    });
}
