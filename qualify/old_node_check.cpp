// caKVILOldNodeCheck and caKVILOldStationCheck: ask the vendor support library
// whether an old node installation is present. Both behave the same, boxes
// and caption included.
#include "runtime/guard.h"
#include "runtime/message_box.h"
#include "runtime/vendor_library.h"

using namespace kvil;

namespace {

const char* const kCaption = "caKVILOldNodeCheck";

UINT checkForOldNode(const Installer& installer)
{
    VendorLibrary library(installer, installer.property("SUPPORTDIR"));
    if (!library.loaded()) {
        errorBox(installer, kCaption, "Failed to load KVIL library", MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    auto checkForOldKVNode = library.function<CheckForOldKVNodeFn>("CheckForOldKVNode");
    if (!checkForOldKVNode) {
        errorBox(installer, kCaption, "Failed to find function CheckForOldKVNode in KVIL",
                 MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    if (checkForOldKVNode() == 1)
        installer.setProperty("CP_OLDNODE", "1");
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall caKVILOldNodeCheck(MSIHANDLE handle)
{
    return guarded("caKVILOldNodeCheck", handle, checkForOldNode);
}

extern "C" UINT __stdcall caKVILOldStationCheck(MSIHANDLE handle)
{
    return guarded("caKVILOldStationCheck", handle, checkForOldNode);
}
