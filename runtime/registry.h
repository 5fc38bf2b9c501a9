// Registry operations. The library is 64-bit, so the native view is the
// 64-bit one; the "32" variants reach the Wow6432Node side.
#pragma once

#include <windows.h>

#include <string>

namespace kvil {

extern const char* const kKevanaKey;        // SOFTWARE\Tavrin Computer Corporation\Kevana
extern const char* const kApplicationsKey;  // ...\Kevana\Applications
extern const char* const kSystemsManagementKey;  // ...\Applications\SystemsManagement

bool registryKeyExists(HKEY root, const std::string& path);
bool registryKeyExists32(HKEY root, const std::string& path);

// The value as text (REG_DWORD as signed decimal, anything else up to its
// first zero byte); empty when the key or value cannot be read or the value
// is larger than 1024 bytes.
std::string readRegistryString(HKEY root, const std::string& path, const char* valueName);
std::string readRegistryString32(HKEY root, const std::string& path, const char* valueName);

// Writes into an existing key; 0 on success, -1 on failure.
int writeRegistryValue(HKEY root, const std::string& path, const char* valueName,
                       const std::string& data, DWORD type);

// 0 when parent\subkey exists afterwards, -1 on failure.
int createRegistryKey(HKEY root, const std::string& parentPath, const char* subkeyName);

}  // namespace kvil

namespace kvil {

// Deletes one value of an existing key; failures are ignored.
void deleteRegistryValue(HKEY root, const std::string& path, const char* valueName);

// Deletes the key only when it opens for reading and has no subkey; failures
// are ignored.
void deleteRegistryKeyWithoutSubkeys(HKEY root, const std::string& path);

}  // namespace kvil
