// caKVILRunVCRedist: the runtime update KB2999226 through wusa on the Windows
// releases that need it. The decisions, as plain functions.
#pragma once

#include <array>
#include <string>

namespace kvil {

// CustomActionData split at ";": runs of separators count as one, empty
// fields are dropped, fields that are not there read as empty and fields
// after the seventh are ignored. Index 0 is the first field.
std::array<std::string, 7> redistFields(const std::string& customActionData);

struct UpdatePackage {
    const char* logLine;      // "This is Windows ..."
    const char* file;         // "\Windows8...-KB2999226-x64.msu"
    bool logsCommandLine;     // the Windows 8 row does not log its command line
};

// The first row whose text the OS name contains (letter case significant),
// or nullptr when the release needs no update.
const UpdatePackage* updatePackageFor(const std::string& osName);

std::string wusaCommandLine(const std::string& supportFolder, const UpdatePackage& package,
                            const std::string& systemDrive);

}  // namespace kvil
