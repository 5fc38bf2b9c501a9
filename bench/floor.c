/* The floor of the benchmark: a custom action that does nothing, so that a
   package calling it shows what the installer engine alone costs per call of
   a DLL custom action. */
#include <windows.h>
#include <msi.h>

UINT __stdcall caBenchNoop(MSIHANDLE handle)
{
    (void)handle;
    return ERROR_SUCCESS;
}
