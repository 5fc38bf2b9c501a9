// The demo package's own support-file actions: ExtractSupportFiles writes
// every row of the ISSetupFile table (file name, content stream) into
// SUPPORTDIR, so that the qualification actions find the vendor support
// library there; RemoveSupportFiles takes them away again at the end of every
// run, RemoveSupportFilesAfterRollback at the end of a rollback. Real packages
// get both from their authoring tool; KVILMSI64.dll's caKVILWriteInfo extracts
// the same rows again later. kit/wix3/kvilsupport-actions.wxi schedules them.
#include "runtime/handles.h"

#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

using kvil::MsiHandle;

namespace {

std::string property(MSIHANDLE install, const char* name)
{
    char value[1024] = {};
    DWORD size = sizeof(value);
    MsiGetPropertyA(install, name, value, &size);
    return value;
}

void log(MSIHANDLE install, const std::string& text)
{
    MsiHandle record(MsiCreateRecord(1));
    MsiRecordSetStringA(record.get(), 0, "[1]");
    MsiRecordSetStringA(record.get(), 1, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
}

std::string withoutTrailingBackslash(std::string folder)
{
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::string supportFolder(MSIHANDLE install)
{
    return withoutTrailingBackslash(property(install, "SUPPORTDIR"));
}

}  // namespace

extern "C" UINT __stdcall ExtractSupportFiles(MSIHANDLE install)
{
    std::string folder = supportFolder(install);
    if (folder.empty())
        return ERROR_INSTALL_FAILURE;
    CreateDirectoryA(folder.c_str(), nullptr);
    MsiHandle database(MsiGetActiveDatabase(install)), view, row;
    if (MsiDatabaseOpenViewA(database.get(), "SELECT `FileName`, `Stream` FROM `ISSetupFile`",
                             view.receive()) ||
        MsiViewExecute(view.get(), 0))
        return ERROR_INSTALL_FAILURE;
    std::string fileList = folder;
    while (MsiViewFetch(view.get(), row.receive()) == ERROR_SUCCESS) {
        char name[256] = {};
        DWORD size = sizeof(name);
        MsiRecordGetStringA(row.get(), 1, name, &size);
        fileList += std::string(";") + name;
        std::string path = folder + "\\" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        bool written = file != nullptr;
        char chunk[4096];
        while (written) {
            DWORD got = sizeof(chunk);
            if (MsiRecordReadStream(row.get(), 2, chunk, &got) != ERROR_SUCCESS) {
                written = false;
                break;
            }
            if (got == 0)
                break;
            written = std::fwrite(chunk, 1, got, file) == got;
        }
        // A short support file would only fail the qualification later, with no clue why.
        if (file && std::fclose(file) != 0)
            written = false;
        if (!written) {
            log(install, "ExtractSupportFiles: cannot write " + path);
            return ERROR_INSTALL_FAILURE;
        }
    }
    // The rollback's clean-up cannot read the table: its type-51 setter
    // passes it this list as CustomActionData.
    MsiSetPropertyA(install, "SupportFileList", fileList.c_str());
    log(install, "ExtractSupportFiles: support files are in " + folder);
    return ERROR_SUCCESS;
}

namespace {

// Deletes the NAMES from FOLDER, then FOLDER itself when that empties it: a
// SUPPORTDIR given on the command line may be a folder of other files too. A
// clean-up that cannot finish is logged, never a reason to fail the run.
void removeSupportFiles(MSIHANDLE install, const std::string& folder, const std::vector<std::string>& names)
{
    int removed = 0, left = 0;
    for (const std::string& name : names) {
        std::string path = folder + "\\" + name;
        if (name.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path.c_str())) {
            ++removed;
        } else {
            log(install, "RemoveSupportFiles: cannot delete " + path);
            ++left;
        }
    }
    bool folderGone = GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES ||
                      RemoveDirectoryA(folder.c_str());
    log(install, "RemoveSupportFiles: " + std::to_string(removed) + " files removed, " + std::to_string(left) +
                     " left; " + folder + (folderGone ? " is gone" : " holds other files and stays"));
}

}  // namespace

// Scheduled at the end of both sequences for success (-1), cancel (-2) and
// failure (-3), so that no run leaves the support files in TEMP.
extern "C" UINT __stdcall RemoveSupportFiles(MSIHANDLE install)
{
    std::string folder = supportFolder(install);
    if (folder.empty())
        return ERROR_SUCCESS;
    MsiHandle database(MsiGetActiveDatabase(install)), view, row;
    if (MsiDatabaseOpenViewA(database.get(), "SELECT `FileName` FROM `ISSetupFile`", view.receive()) ||
        MsiViewExecute(view.get(), 0)) {
        log(install, "RemoveSupportFiles: cannot read ISSetupFile");
        return ERROR_SUCCESS;
    }
    std::vector<std::string> names;
    while (MsiViewFetch(view.get(), row.receive()) == ERROR_SUCCESS) {
        char name[256] = {};
        DWORD size = sizeof(name);
        MsiRecordGetStringA(row.get(), 1, name, &size);
        names.push_back(name);
    }
    removeSupportFiles(install, folder, names);
    return ERROR_SUCCESS;
}

// The same clean-up as the last step of a rollback, where the product's
// rollback actions have had the support library they load. CustomActionData:
// the folder, then the file names, separated by ";".
extern "C" UINT __stdcall RemoveSupportFilesAfterRollback(MSIHANDLE install)
{
    std::vector<std::string> fields;
    std::string data = property(install, "CustomActionData") + ";";
    for (size_t start = 0, end; (end = data.find(';', start)) != std::string::npos; start = end + 1)
        fields.push_back(data.substr(start, end - start));
    const std::string folder = withoutTrailingBackslash(fields.front());
    if (!folder.empty())
        removeSupportFiles(install, folder, {fields.begin() + 1, fields.end()});
    return ERROR_SUCCESS;
}
