/* The floor of the benchmark: a custom action that does nothing, so that a
   package calling it shows what the installer engine alone costs per call of
   a DLL custom action. Beside it, the restore step for the actions that
   consume their own inputs (they delete the shared data file or empty the
   support folder): it copies them back before each call. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <string.h>

UINT __stdcall caBenchNoop(MSIHANDLE handle)
{
    (void)handle;
    return ERROR_SUCCESS;
}

/* Copies the files of one folder into another, creating it. */
static void copyFolderFiles(const char* from, const char* to)
{
    char pattern[MAX_PATH * 2], source[MAX_PATH * 2], target[MAX_PATH * 2];
    WIN32_FIND_DATAA found;
    HANDLE search;
    CreateDirectoryA(to, NULL);
    wsprintfA(pattern, "%s\\*", from);
    search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        wsprintfA(source, "%s\\%s", from, found.cFileName);
        wsprintfA(target, "%s\\%s", to, found.cFileName);
        CopyFileA(source, target, FALSE);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

/* BenchRestore: "from>to" folder pairs separated by "|". */
UINT __stdcall caBenchRestore(MSIHANDLE handle)
{
    char pairs[4096] = "";
    DWORD size = sizeof(pairs);
    char* pair;
    char* next;
    if (MsiGetPropertyA(handle, "BenchRestore", pairs, &size) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    for (pair = pairs; pair && *pair; pair = next) {
        char* arrow;
        next = strchr(pair, '|');
        if (next)
            *next++ = '\0';
        arrow = strchr(pair, '>');
        if (!arrow)
            return ERROR_INSTALL_FAILURE;
        *arrow = '\0';
        copyFolderFiles(pair, arrow + 1);
    }
    return ERROR_SUCCESS;
}

/* The calibration: each export makes 50 installer calls of one kind, so that
   a package calling it shows what one such call costs a custom action. */
#define CALIBRATION_CALLS 50

UINT __stdcall caBenchPropertyReads(MSIHANDLE handle)
{
    char value[1024];
    int call;
    for (call = 0; call < CALIBRATION_CALLS; ++call) {
        DWORD size = sizeof(value);
        MsiGetPropertyA(handle, "ProductVersion", value, &size);
    }
    return ERROR_SUCCESS;
}

UINT __stdcall caBenchPropertyWrites(MSIHANDLE handle)
{
    int call;
    for (call = 0; call < CALIBRATION_CALLS; ++call)
        MsiSetPropertyA(handle, "BENCHWRITE", (call & 1) ? "YES" : "NO");
    return ERROR_SUCCESS;
}

UINT __stdcall caBenchFeatureStates(MSIHANDLE handle)
{
    int call;
    for (call = 0; call < CALIBRATION_CALLS; ++call) {
        INSTALLSTATE installed, action;
        MsiGetFeatureStateA(handle, "Main", &installed, &action);
    }
    return ERROR_SUCCESS;
}

UINT __stdcall caBenchLogLines(MSIHANDLE handle)
{
    int call;
    for (call = 0; call < CALIBRATION_CALLS; ++call) {
        MSIHANDLE record = MsiCreateRecord(1);
        MsiRecordSetStringA(record, 0, "benchmark log line");
        MsiProcessMessage(handle, INSTALLMESSAGE_INFO, record);
        MsiCloseHandle(record);
    }
    return ERROR_SUCCESS;
}
