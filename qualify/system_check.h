// The decisions of caKVILSystemCheck, kept apart from the installer session
// so that they can be checked on their own.
#pragma once

#include <windows.h>

#include <string>

namespace kvil {

// The model number as the package knows it: upper-case hexadecimal, at least
// four digits (0x61A gives "061A").
std::string formatSystemId(DWORD systemId);

// The three rack workstation models that are accepted whatever the supported
// model list says (letter case ignored).
bool isRackWorkstation(const std::string& systemId);

// A vendor name that begins with the maker's name (letter case ignored).
bool isMakersHardware(const std::string& vendorName);

// Whether the running Windows is release 6.<minor> without a service pack, as
// VerifyVersionInfo reports it to this process (any product type passes).
bool windowsReleaseIs(DWORD minorVersion);

}  // namespace kvil
