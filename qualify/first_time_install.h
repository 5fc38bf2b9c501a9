// The version comparison of caKVILSetFirstTimeInstall, kept apart from the
// session so that it can be checked on its own.
#pragma once

#include <string>

namespace kvil {

// Each version gives three numbers: the leading decimal number, then the one
// character after the first "." and the one after the last "." (a non-digit
// counts 0; without a "." the first character is taken). So 9.10.0 has minor
// 1. True when the package's triple is greater at the first that differs.
bool packageVersionIsNewer(const std::string& installedVersion, const std::string& packageVersion);

}  // namespace kvil
