// The demo package's record of the ready-to-install summary: writes the Text
// of the control SummaryText, as the running database holds it once
// caKVILSetSummaryText has replaced the row, into the file that the property
// KVILDEMO_SUMMARYFILE names. The bytes are those the engine hands to the
// dialog's Rich Text control: the text in the system's ANSI code page.
// build-package.py sequences it only when asked (--record-summary).
#include "runtime/handles.h"

#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

using kvil::MsiHandle;

extern "C" UINT __stdcall RecordSummaryText(MSIHANDLE install)
{
    char path[1024] = {};
    DWORD size = sizeof(path);
    if (MsiGetPropertyA(install, "KVILDEMO_SUMMARYFILE", path, &size) != ERROR_SUCCESS || !*path)
        return ERROR_INSTALL_FAILURE;
    MsiHandle database(MsiGetActiveDatabase(install)), view, row;
    if (MsiDatabaseOpenViewA(database.get(),
                             "SELECT `Text` FROM `Control` WHERE "
                             "(`Dialog_`='ReadyToInstall' AND `Control`='SummaryText')",
                             view.receive()) ||
        MsiViewExecute(view.get(), 0) || MsiViewFetch(view.get(), row.receive()))
        return ERROR_INSTALL_FAILURE;
    DWORD length = 0;
    char none[1] = {};
    MsiRecordGetStringA(row.get(), 1, none, &length);  // asks for the length
    std::vector<char> text(length + 1);
    length = static_cast<DWORD>(text.size());
    if (MsiRecordGetStringA(row.get(), 1, text.data(), &length) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return ERROR_INSTALL_FAILURE;
    const bool written = std::fwrite(text.data(), 1, length, file) == length;
    return std::fclose(file) == 0 && written ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}
