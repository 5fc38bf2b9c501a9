/* Runs one export of a benchmark package in this process: the package is
   opened with MsiOpenPackageA, so every installer call the export makes is an
   ordinary function call instead of a round trip from the installer's
   custom-action server. What it prints is the export's own cost (and the
   vendor library's), without that transport.

   kvilbench_inproc PACKAGE DLL EXPORT CALLS [RESTORE-DLL]
   prints "ms=<per call> rc=<last result>". With RESTORE-DLL, its
   caBenchRestore runs before each call, outside the timed part. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <stdio.h>
#include <stdlib.h>

typedef UINT(__stdcall* Action)(MSIHANDLE);

static Action load(const char* dll, const char* name, HMODULE* module)
{
    *module = LoadLibraryA(dll);
    return *module ? (Action)GetProcAddress(*module, name) : NULL;
}

int main(int argc, char** argv)
{
    MSIHANDLE session = 0;
    HMODULE product = NULL, helper = NULL;
    Action action, restore = NULL;
    LARGE_INTEGER frequency, start, end;
    double total = 0;
    UINT result = 0;
    int calls, call;
    if (argc < 5) {
        fprintf(stderr, "usage: kvilbench_inproc PACKAGE DLL EXPORT CALLS [RESTORE-DLL]\n");
        return 2;
    }
    calls = atoi(argv[4]);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    if (MsiOpenPackageA(argv[1], &session) != ERROR_SUCCESS) {
        fprintf(stderr, "kvilbench_inproc: cannot open %s\n", argv[1]);
        return 1;
    }
    action = load(argv[2], argv[3], &product);
    if (argc > 5)
        restore = load(argv[5], "caBenchRestore", &helper);
    if (!action || (argc > 5 && !restore)) {
        fprintf(stderr, "kvilbench_inproc: cannot find %s\n", action ? "caBenchRestore" : argv[3]);
        MsiCloseHandle(session);
        return 1;
    }
    QueryPerformanceFrequency(&frequency);
    for (call = 0; call < calls; ++call) {
        if (restore)
            restore(session);
        QueryPerformanceCounter(&start);
        result = action(session);
        QueryPerformanceCounter(&end);
        total += (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    }
    printf("ms=%.3f rc=%u\n", total / calls, result);
    MsiCloseHandle(session);
    if (helper)
        FreeLibrary(helper);
    FreeLibrary(product);
    return 0;
}
