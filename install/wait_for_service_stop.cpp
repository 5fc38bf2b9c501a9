// caKVILWaitforServiceStop: gives the product's services time to stop before
// their files are replaced or removed.
#include "runtime/guard.h"
#include "runtime/services.h"

using namespace kvil;

extern "C" UINT __stdcall caKVILWaitforServiceStop(MSIHANDLE handle)
{
    return guarded("caKVILWaitforServiceStop", handle, [](const Installer&) -> UINT {
        for (const char* service : {"Orvessa", "dcstor64", "dcevt64", "kvasad"})
            waitForServiceStop(service);
        return ERROR_SUCCESS;
    });
}
