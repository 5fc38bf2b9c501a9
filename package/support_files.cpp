// The demo package's own support-file action: writes every row of the
// ISSetupFile table (file name, content stream) into SUPPORTDIR, so that the
// qualification actions find the vendor support library there. Real packages
// get this from their authoring tool; KVILMSI64.dll's caKVILWriteInfo extracts
// the same rows again later.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <string>

namespace {

struct Handle {
    MSIHANDLE h = 0;
    ~Handle() { if (h) MsiCloseHandle(h); }
};

std::string property(MSIHANDLE install, const char* name)
{
    char value[1024] = {};
    DWORD size = sizeof(value);
    MsiGetPropertyA(install, name, value, &size);
    return value;
}

void log(MSIHANDLE install, const std::string& text)
{
    Handle record;
    record.h = MsiCreateRecord(1);
    MsiRecordSetStringA(record.h, 0, "[1]");
    MsiRecordSetStringA(record.h, 1, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.h);
}

}  // namespace

extern "C" UINT __stdcall ExtractSupportFiles(MSIHANDLE install)
{
    std::string folder = property(install, "SUPPORTDIR");
    if (folder.empty())
        return ERROR_INSTALL_FAILURE;
    if (folder.back() == '\\')
        folder.pop_back();
    CreateDirectoryA(folder.c_str(), nullptr);
    Handle database, view, row;
    database.h = MsiGetActiveDatabase(install);
    if (MsiDatabaseOpenViewA(database.h, "SELECT `FileName`, `Stream` FROM `ISSetupFile`", &view.h) ||
        MsiViewExecute(view.h, 0))
        return ERROR_INSTALL_FAILURE;
    while (MsiViewFetch(view.h, &row.h) == ERROR_SUCCESS) {
        char name[256] = {};
        DWORD size = sizeof(name);
        MsiRecordGetStringA(row.h, 1, name, &size);
        std::string path = folder + "\\" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) {
            log(install, "ExtractSupportFiles: cannot write " + path);
            return ERROR_INSTALL_FAILURE;
        }
        char chunk[4096];
        for (;;) {
            DWORD got = sizeof(chunk);
            if (MsiRecordReadStream(row.h, 2, chunk, &got) != ERROR_SUCCESS || got == 0)
                break;
            std::fwrite(chunk, 1, got, file);
        }
        std::fclose(file);
        MsiCloseHandle(row.h);
        row.h = 0;
    }
    log(install, "ExtractSupportFiles: support files are in " + folder);
    return ERROR_SUCCESS;
}
