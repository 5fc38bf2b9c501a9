// caKVILWaitforServiceStop: gives the product's services time to stop before
// their files are replaced or removed.
#include "runtime/guard.h"
#include "runtime/services.h"

using namespace kvil;

extern "C" UINT __stdcall caKVILWaitforServiceStop(MSIHANDLE handle)
{
    return guarded("caKVILWaitforServiceStop", handle, [](const Installer&) -> UINT {
        // In this order, each given its time in turn; the manager is opened
        // once for all four.
        waitForServicesToStop({"Orvessa", "dcstor64", "dcevt64", "kvasad"});
        return ERROR_SUCCESS;
    });
}
